#pragma once
// The screens and the pointer as the overlay sees them.
//
// Coordinates are global and in points: the origin is the bottom-left corner of the primary
// screen and y grows upwards, so a screen's top edge is its frame's maximum y. Adapters convert
// from the windowing system's own coordinates.

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace vocalynx {

// One screen, as far as the notch geometry and the display picker need it.
struct ScreenDescription {
    QRectF frame;         // the whole screen
    QRectF visibleFrame;  // the frame less the panels and bars the desktop reserves
    double safeAreaTopInset = 0;
    // The strips left and right of a camera housing; present only on screens that have one.
    std::optional<QRectF> auxiliaryTopLeftArea;
    std::optional<QRectF> auxiliaryTopRightArea;
    // The platform's display number, when it has one.
    std::optional<uint32_t> displayNumber;
    // The platform's answer to "is this display built in"; absent when it cannot tell.
    std::optional<bool> builtInQuery;
    // The name the identifier falls back to (on Linux the output's connector name, "eDP-1").
    QString localizedName;
    // A name for people, for lists of screens (maker and model when known, else localizedName).
    QString displayName;

    bool operator==(const ScreenDescription&) const = default;
};

class ScreenList {
public:
    using ChangeHandler = std::function<void()>;
    using Token = int;

    virtual ~ScreenList() = default;
    // Every screen, in the platform's order.
    virtual std::vector<ScreenDescription> screens() const = 0;
    // The main screen, absent when there is none.
    virtual std::optional<ScreenDescription> mainScreen() const = 0;
    // The rectangle in the windowing system's own coordinates (top-left origin, y down, the
    // coordinates a window's geometry is set in).
    virtual QRect nativeRect(const QRectF& globalRect) const = 0;
    // Called on the main thread whenever a screen appears, disappears or changes its geometry.
    virtual Token addChangeHandler(ChangeHandler handler) = 0;
    virtual void removeChangeHandler(Token token) = 0;
};

class PointerLocation {
public:
    virtual ~PointerLocation() = default;
    // The pointer position in global coordinates.
    virtual QPointF location() const = 0;
};

}  // namespace vocalynx
