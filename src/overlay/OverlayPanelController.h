#pragma once
// Owns the notch panel: a frameless, translucent, always-on-top tool window that never takes the
// focus, sits at the top centre of the chosen screen on every workspace and hosts the overlay
// view. It re-places the panel when the screens or the display preference change and decides,
// twenty times a second, whether the pointer hovers over it; while it does not, every click goes
// through the panel to the windows below.

#include <QRectF>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "core/WeakHandle.h"
#include "overlay/NotchGeometry.h"
#include "overlay/NotchOverlayView.h"
#include "overlay/OverlayAnimation.h"
#include "overlay/OverlayPanelState.h"
#include "overlay/ScreenshotMode.h"
#include "platform/Runtime.h"
#include "platform/Screens.h"
#include "platform/WindowWorkspaces.h"

namespace vocalynx {

class ConfigStore;
class MediaRemoteService;
class WhisperEngine;

class OverlayPanelController : public QObject {
public:
    struct Dependencies {
        Runtime& runtime;
        ConfigStore& config;
        WhisperEngine& engine;
        ScreenList& screens;
        PointerLocation& pointer;
        WindowWorkspaces* workspaces = nullptr;
        // Started in a normal run; absent in tests.
        MediaRemoteService* media = nullptr;
        // Makes the hover card's media card for each view; unset leaves the empty card.
        std::function<QWidget*()> makeMediaCard;
    };

    static constexpr double kHoverPollInterval = 0.05;
    // How often the panel asks whether a compositing manager has started or stopped.
    static constexpr double kCompositorPollInterval = 1.0;

    // Builds the panel and shows it. In screenshot mode there is no pointer tracking and no media
    // monitoring; a staged hover picture starts expanded and never answers the pointer.
    OverlayPanelController(Dependencies deps, std::optional<ScreenshotMode> screenshotMode);
    ~OverlayPanelController() override;

    void installMouseTracking();
    // One hover decision from the current pointer position.
    void hoverCheck();
    void handleHover(bool hovering);
    // Re-measures the chosen screen and re-places the panel; the hover state stays.
    void refreshScreen();
    // Places the panel from the metrics and announces its frame.
    void updatePanelFrame();
    // Shapes the panel to its body while no compositing manager runs, and gives it back its full
    // frame while one does.
    void followCompositor();

    // The hover zone for the current state and panel frame (global coordinates).
    QRectF hoverZone() const;

    QWidget* panel() const { return panel_; }
    NotchOverlayView* view() const { return view_; }
    OverlayPanelState& panelState() { return panelState_; }
    const NotchMetrics& metrics() const { return metrics_; }
    // The panel's frame in global coordinates, as last placed.
    QRectF panelFrame() const { return panelFrame_; }
    bool ignoresMouseEvents() const;
    bool isTrackingPointer() const { return hoverPoll_.isRunning(); }

private:
    void setIgnoresMouseEvents(bool ignores);

    Dependencies deps_;
    std::optional<ScreenshotMode> screenshotMode_;
    OverlayPanelState panelState_;
    NotchMetrics metrics_;
    QWidget* panel_ = nullptr;
    NotchOverlayView* view_ = nullptr;
    QRectF panelFrame_;
    FrameTicker hoverPoll_;
    FrameTicker compositorPoll_;
    ScreenList::Token screensToken_ = 0;
    NotificationCenter::Token preferenceToken_ = 0;
    // Work posted to the main queue holds this weakly and does nothing once the controller is gone.
    WeakFactory<OverlayPanelController> weak_;
};

}  // namespace vocalynx
