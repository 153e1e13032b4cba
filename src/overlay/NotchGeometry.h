#pragma once
// Which screen carries the panel and how big that screen's notch (or the tab drawn in its
// place) is. Pure functions over the screen list; coordinates as in platform/Screens.h.

#include <QRectF>
#include <QString>
#include <optional>

#include "core/Types.h"
#include "platform/Screens.h"

namespace vocalynx {

class ConfigStore;

struct NotchMetrics {
    double notchWidth = 185;
    double notchHeight = 32;
    double notchMinX = 0;
    double notchMaxX = 185;
    QRectF screenFrame;  // the measured screen's whole frame
    bool hasNotch = false;
    bool isBuiltIn = false;

    // The metrics of the given screen, or of the main screen when none is given, or the defaults
    // (185 x 32 at x 0 to 185, zero frame) when there is no screen at all.
    static NotchMetrics measure(const std::optional<ScreenDescription>& screen, const ScreenList& screens);
    static NotchMetrics of(const ScreenDescription& screen);

    bool operator==(const NotchMetrics&) const = default;
};

// True for a screen built into the machine (a laptop panel).
bool isBuiltInDisplay(const ScreenDescription& screen);

// The identifier a chosen screen is stored under: "screen:" and the display number, or
// "screen:" and the screen's name when it has no number.
QString displayIdentifier(const ScreenDescription& screen);

// The screen that should carry the panel for the given preference; the main screen when nothing
// matches, absent only when nothing matches and there is no main screen.
std::optional<ScreenDescription> targetScreen(const PreferredDisplay& preference, const ScreenList& screens,
                                              const PointerLocation& pointer);
// The same, reading the preference from the settings store on every call.
std::optional<ScreenDescription> targetScreen(const ConfigStore& config, const ScreenList& screens,
                                              const PointerLocation& pointer);

// The platform's point-in-rectangle test: the left and bottom edges are inside, the right and
// top edges outside (y grows upwards).
bool rectContains(const QRectF& rect, const QPointF& point);

}  // namespace vocalynx
