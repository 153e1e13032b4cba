#pragma once
// The whole content of the notch panel: the black shape hanging from the top edge of the screen,
// with the pixel cat, the title and settings button (hover), the status row (dictation) and the
// media card (hover). It follows the speech engine and the panel state and animates between its
// three visual states.

#include <QAbstractButton>
#include <QImage>
#include <QPointer>
#include <QRegion>
#include <QWidget>
#include <array>

#include "core/Types.h"
#include "overlay/NotchGeometry.h"
#include "overlay/NotchPanelShape.h"
#include "overlay/OverlayAnimation.h"
#include "overlay/PixelCatSprite.h"
#include "platform/Runtime.h"

namespace vocalynx {

class OverlayPanelState;
class VocalynxTitleView;
class WhisperEngine;
class StatusRow;
class MediaCardSlot;

class NotchOverlayView : public QWidget {
public:
    enum class VisualState { idle, active, hover };
    enum class StatusContent { none, transcribing, listening, connecting };

    // What the view reads from the speech engine.
    struct EngineValues {
        RecordingState state = RecordingState::idle;
        QString previewText;
        bool micReady = false;
        bool airPodsMicrophone = false;  // the recording's microphone is a pair of AirPods
    };

    // The animated quantities of one visual state (sizes in points, body coordinates).
    struct Look {
        double width = 0, height = 0, bottomRadius = 0, shadowOpacity = 0, shadowRadius = 0;
        double catSize = 20, catY = 0;
        double titleOpacity = 0, gearOpacity = 0, statusOpacity = 0, cardOpacity = 0;
    };

    static constexpr double kConcaveRadius = 12;

    NotchOverlayView(Runtime& runtime, OverlayPanelState& panelState, NotchMetrics metrics, QWidget* parent = nullptr);
    ~NotchOverlayView() override;

    // The panel window's size for the metrics: (notchWidth + 300) x (notchHeight + 116).
    static QSizeF panelSize(const NotchMetrics& metrics);

    // Follows the engine's published values from now on (reads the current ones first).
    void observeEngine(WhisperEngine& engine);
    // Sets the engine values directly (a staged picture, or a view without an engine).
    void setEngineValues(const EngineValues& values);
    const EngineValues& engineValues() const { return engine_; }

    // New metrics take effect at once, without the state animation.
    void setMetrics(const NotchMetrics& metrics);
    const NotchMetrics& metrics() const { return metrics_; }

    // Puts a card into the media card's slot (the view takes it over); null empties the slot.
    void setMediaCard(QWidget* card);
    QWidget* mediaCardSlot() const;

    // ---- derived values ----
    bool isActive() const;
    bool isHoverExpanded() const;
    VisualState visualState() const;
    double catSize() const { return isHoverExpanded() ? 22 : 20; }
    double catYOffset() const;
    PixelCatMood catMood() const;
    StatusContent statusContent() const { return statusContent_; }

    static Look targetLook(VisualState state, const NotchMetrics& metrics);
    static const AnimationCurve& animationFor(VisualState state);

    // ---- what is shown now (mid-animation values while one runs) ----
    Look presentedLook() const;
    bool isAnimating() const;
    // Ends a running animation at its target (for pictures taken at once).
    void finishAnimations();
    // The body's frame in this view's coordinates.
    QRectF bodyRect() const;
    NotchPanelShape shape() const;
    // Frames inside the body (origin at the body's top-left, y down).
    QRectF catRect() const;
    QRectF titleRect() const;
    QRectF gearRect() const;
    QRectF statusRowRect() const;
    QRectF mediaCardRect() const;
    // The body's outline in this view's coordinates, as whole pixels.
    QRegion bodyRegion() const;

    // Without a compositing manager the window cannot be translucent: the panel window is then
    // shaped to the body (following it through every animation), so that nothing but the black
    // shape hides what lies below. With one, the window keeps its full frame.
    void setShapedToBody(bool shaped);
    bool isShapedToBody() const { return shapedToBody_; }

    PixelCatSprite& cat() const { return *cat_; }
    VocalynxTitleView& title() const { return *title_; }
    QAbstractButton& settingsButton() const { return *gear_; }
    QWidget& statusRow() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    // The part of the body that is black from edge to edge, in whole pixels.
    QRect bodyInterior(const QRectF& body) const;

private:
    void inputsChanged();
    void rebuildStatusContent();
    void onFrame();
    void layoutChildren();
    void updateWindowShape();
    QImage bodyShadow(const QRectF& body, double radius, double pixelRatio);

    Runtime& runtime_;
    OverlayPanelState& panelState_;
    NotchMetrics metrics_;
    EngineValues engine_;

    VisualState shownState_ = VisualState::idle;
    Look from_, to_;
    const AnimationCurve* curve_ = nullptr;
    MonoTime animationStart_{};
    bool animating_ = false;
    FrameTicker ticker_;

    StatusContent statusContent_ = StatusContent::none;
    PixelCatSprite* cat_;
    VocalynxTitleView* title_;
    QAbstractButton* gear_;
    QWidget* pieces_;
    QWidget* cardClip_;
    StatusRow* statusRow_;
    MediaCardSlot* cardSlot_;

    bool shapedToBody_ = false;
    QRegion windowShape_;

    QImage shadowCache_;
    std::array<long long, 5> shadowKey_{};  // size, corner radius, blur radius and pixel ratio, in hundredths
    QImage bodyCache_;
    std::array<long long, 4> bodyKey_{};  // size, corner radius and pixel ratio, in hundredths
};

// Human-readable name of a visual state ("idle", "active", "hover").
QString visualStateName(NotchOverlayView::VisualState state);

}  // namespace vocalynx
