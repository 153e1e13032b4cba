#include "overlay/OverlayPanelController.h"

#include <QWindow>

#include "core/ConfigStore.h"
#include "engine/WhisperEngine.h"
#include "gestures/MediaRemoteService.h"

namespace vocalynx {

namespace {

constexpr Qt::WindowFlags kPanelFlags = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                        Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint |
                                        Qt::WindowTransparentForInput;

}  // namespace

OverlayPanelController::OverlayPanelController(Dependencies deps, std::optional<ScreenshotMode> screenshotMode)
    : deps_(std::move(deps)),
      screenshotMode_(std::move(screenshotMode)),
      hoverPoll_(deps_.runtime.main, [this] { hoverCheck(); }, kHoverPollInterval, TickTiming::coarse),
      compositorPoll_(deps_.runtime.main, [this] { followCompositor(); }, kCompositorPollInterval, TickTiming::coarse),
      weak_(this, &deps_.runtime.main, "OverlayPanelController") {
    metrics_ = NotchMetrics::measure(targetScreen(deps_.config, deps_.screens, deps_.pointer), deps_.screens);

    panel_ = new QWidget(nullptr, kPanelFlags);
    panel_->setObjectName(QStringLiteral("VocalynxNotchPanel"));
    panel_->setAttribute(Qt::WA_TranslucentBackground);
    panel_->setAttribute(Qt::WA_NoSystemBackground);
    panel_->setAttribute(Qt::WA_ShowWithoutActivating);
    panel_->setAttribute(Qt::WA_X11DoNotAcceptFocus);
    panel_->setFocusPolicy(Qt::NoFocus);

    view_ = new NotchOverlayView(deps_.runtime, panelState_, metrics_, panel_);
    view_->observeEngine(deps_.engine);
    if (deps_.makeMediaCard) view_->setMediaCard(deps_.makeMediaCard());

    if (screenshotMode_ && screenshotMode_->state == ScreenshotMode::State::hover) {
        // The staged hover picture is shown expanded but never answers the pointer.
        panelState_.setHovering(true);
        setIgnoresMouseEvents(true);
    }

    panel_->winId();  // the native window exists from here on
    if (deps_.workspaces) deps_.workspaces->showOnAllWorkspaces(panel_->winId());
    updatePanelFrame();
    followCompositor();
    compositorPoll_.start();
    panel_->show();
    panel_->raise();
    if (deps_.workspaces) deps_.workspaces->showOnAllWorkspaces(panel_->winId());

    if (!screenshotMode_) installMouseTracking();

    // A change may be announced on any thread; the refresh runs on the main queue.
    MainQueue& main = deps_.runtime.main;
    auto refreshLater = [refresh = weak_.bind([](OverlayPanelController& self) { self.refreshScreen(); }), &main] {
        main.post(refresh);
    };
    screensToken_ = deps_.screens.addChangeHandler(refreshLater);
    preferenceToken_ = deps_.runtime.notifications.addObserver(notifications::preferredDisplayDidChange,
                                                               [refreshLater](const std::any&) { refreshLater(); });
    connect(&deps_.engine, &WhisperEngine::stateChanged, this, [this](RecordingState state) {
        if (state != RecordingState::idle) handleHover(false);
    });
    if (deps_.engine.state() != RecordingState::idle) handleHover(false);

    if (!screenshotMode_ && deps_.media) deps_.media->startMonitoring();
}

OverlayPanelController::~OverlayPanelController() {
    weak_.invalidate();
    hoverPoll_.stop();
    compositorPoll_.stop();
    deps_.screens.removeChangeHandler(screensToken_);
    deps_.runtime.notifications.removeObserver(preferenceToken_);
    delete panel_;
}

void OverlayPanelController::installMouseTracking() {
    // The desktop gives no pointer-moved events for other applications' windows, so the poll is
    // the tracking; it also covers moves over the panel itself.
    hoverPoll_.start();
}

QRectF OverlayPanelController::hoverZone() const {
    const QRectF f = panelFrame_;
    const double top = f.y() + f.height();
    const double midX = f.x() + f.width() * 0.5;
    const double nw = metrics_.notchWidth, nh = metrics_.notchHeight;
    if (panelState_.isHovering()) {
        const double w = nw + 280, h = nh + 28 + 8 + 70;
        return QRectF(midX - w * 0.5 - 5, top - h - 5, w + 10, h + 5);
    }
    const double w = metrics_.isBuiltIn ? nw + 90 : nw;
    return QRectF(midX - w * 0.5 - 20, top - nh - 20, w + 40, nh + 20);
}

void OverlayPanelController::hoverCheck() {
    if (!panel_) return;
    // Only an idle panel opens on hover: while a dictation runs the pointer is not asked for (a
    // round trip to the X server 20 times a second).
    if (deps_.engine.state() != RecordingState::idle) {
        handleHover(false);
        return;
    }
    handleHover(rectContains(hoverZone(), deps_.pointer.location()));
}

void OverlayPanelController::handleHover(bool hovering) {
    if (!panel_) return;
    if (hovering == panelState_.isHovering()) return;
    panelState_.setHovering(hovering);
    setIgnoresMouseEvents(!hovering);
}

void OverlayPanelController::refreshScreen() {
    metrics_ = NotchMetrics::measure(targetScreen(deps_.config, deps_.screens, deps_.pointer), deps_.screens);
    if (view_) view_->setMetrics(metrics_);
    updatePanelFrame();
}

void OverlayPanelController::updatePanelFrame() {
    if (!panel_) return;
    const QSizeF size = NotchOverlayView::panelSize(metrics_);
    const double x = (metrics_.notchMinX + metrics_.notchMaxX) * 0.5 - size.width() * 0.5;
    const double y = metrics_.screenFrame.y() + metrics_.screenFrame.height() - size.height();
    panelFrame_ = QRectF(x, y, size.width(), size.height());
    const QRect native = deps_.screens.nativeRect(panelFrame_);
    panel_->setGeometry(native);
    view_->setGeometry(QRect(QPoint(0, 0), native.size()));
    deps_.runtime.notifications.post(notifications::overlayPanelFrameDidChange, panelFrame_);
}

void OverlayPanelController::followCompositor() {
    if (!view_) return;
    view_->setShapedToBody(deps_.workspaces && !deps_.workspaces->hasCompositor());
}

bool OverlayPanelController::ignoresMouseEvents() const {
    if (QWindow* window = panel_->windowHandle()) return window->flags().testFlag(Qt::WindowTransparentForInput);
    return panel_->windowFlags().testFlag(Qt::WindowTransparentForInput);
}

void OverlayPanelController::setIgnoresMouseEvents(bool ignores) {
    // Changing the widget's flags would re-create the visible window; the native window takes the
    // input flag in place, and the widget's record of its flags follows without a re-create.
    Qt::WindowFlags flags = panel_->windowFlags();
    flags.setFlag(Qt::WindowTransparentForInput, ignores);
    panel_->overrideWindowFlags(flags);
    if (QWindow* window = panel_->windowHandle()) window->setFlag(Qt::WindowTransparentForInput, ignores);
}

}  // namespace vocalynx
