#include "app/AppDelegate.h"

#include "app/SignalHandlers.h"
#include "core/CrashReporting.h"
#include "overlay/MediaControlView.h"
#include "overlay/NotchGeometry.h"
#include "overlay/ScreenshotHero.h"
#include "overlay/ScreenshotScene.h"

#include <QPointer>

namespace vocalynx {

AppDelegate::AppDelegate(Components components, std::optional<ScreenshotMode> screenshotMode)
    : c_(std::move(components)), screenshotMode_(std::move(screenshotMode)), updater_(c_.runtime.log) {}

AppDelegate::~AppDelegate() {
    // The gesture engine outlives the delegate: its callback must not reach a destroyed one.
    if (c_.gestureEngine) c_.gestureEngine->setOnGesture(nullptr);
    for (NotificationCenter::Token token : observers_) c_.runtime.notifications.removeObserver(token);
}

void AppDelegate::applicationDidFinishLaunching() {
    // Crash reporting, and the heartbeats its hang monitor watches the main thread by.
    if (c_.configureCrashReporting) {
        c_.configureCrashReporting();
    } else if (CrashReporting::configure(c_.runtime.info, c_.runtime.log, c_.crashReportingSDK) &&
               c_.crashReportingSDK->tracksAppHangs()) {
        CrashReportingSDK* sdk = c_.crashReportingSDK;
        sdk->appHangHeartbeat();  // the first one, from here, names the main thread
        appHangHeartbeat_ = std::make_unique<FrameTicker>(
            c_.runtime.main, [sdk] { sdk->appHangHeartbeat(); }, kAppHangHeartbeatInterval, TickTiming::coarse);
        appHangHeartbeat_->start();
    }
    // Fatal-signal handlers, once per process.
    installFatalSignalHandlers();
    // End the speech processes an earlier run left behind.
    if (c_.cleanupOrphanedColiProcesses) c_.cleanupOrphanedColiProcesses();
    // One instance at a time: any other running copy is asked to quit.
    terminateOtherInstances();
    if (!screenshotMode_)
        runNormalLaunch();
    else
        runScreenshotLaunch();
}

void AppDelegate::terminateOtherInstances() {
    const std::vector<pid_t> others = c_.processes.otherInstances();
    if (others.empty()) return;
    c_.runtime.log.line(QStringLiteral("[Vocalynx] Found ") + QString::number(others.size()) +
                        QStringLiteral(" other instance(s), terminating them..."));
    for (pid_t pid : others) c_.processes.requestTerminate(pid);
    c_.runtime.clock.sleepFor(Duration(0.5));
}

void AppDelegate::runNormalLaunch() {
    // The update framework's controller, then its launch check.
    updater_.createController(c_.makeUpdaterController);
    startUpdater();
    // Onboarding on a first run.
    if (c_.windows && !c_.standardDefaults.onboardingComplete()) c_.windows->showOnboardingWindow();
    // The key-injection permission check, 2.0 s from now.
    if (c_.windows) {
        QPointer<WindowManager> windows(c_.windows);
        c_.runtime.main.postAfter(Duration(2.0), [windows] {
            if (windows) windows->checkAccessibilityPermission();
        });
    }
    // The overlay panel.
    createOverlayPanel();
    // Start listening for coding-agent events.
    if (c_.agentMonitor) c_.agentMonitor->start();
    // Listen for headset presses and the stop-recording shortcut.
    if (c_.gestureEngine) c_.gestureEngine->startListening();
    if (c_.stopRecordingShortcut) c_.stopRecordingShortcut->registerShortcut();
    // Each gesture goes through the router to the speech engine; the speech process warms up.
    if (c_.gestureEngine && c_.gestureRouter)
        c_.gestureEngine->setOnGesture([this](const GestureEvent& event) {
            runGestureEntry(event, *c_.gestureRouter, c_.engine, c_.runtime);
        });
    c_.engine.warmUpColi();
    // The main-thread watchdog.
    if (c_.watchdog) c_.watchdog->start();
    // Observers, in this order: "openSettingsFromPanel", "vocalynxModelLoadFailed",
    // "vocalynxCheckForUpdates".
    auto onMain = [this](void (AppDelegate::*target)()) {
        QPointer<AppDelegate> self(this);
        return [self, target, &main = c_.runtime.main](const std::any&) {
            // An alert waits for the user: never inside a poster that runs on another thread.
            if (main.isCurrent()) {
                if (self) (self->*target)();
                return;
            }
            main.post([self, target] {
                if (self) (self->*target)();
            });
        };
    };
    observers_.push_back(
        c_.runtime.notifications.addObserver(notifications::openSettingsFromPanel, onMain(&AppDelegate::openSettings)));
    observers_.push_back(c_.runtime.notifications.addObserver(notifications::vocalynxModelLoadFailed,
                                                              onMain(&AppDelegate::handleModelLoadFailure)));
    observers_.push_back(c_.runtime.notifications.addObserver(
        notifications::speechProgramUnavailable, [self = QPointer<AppDelegate>(this)](const std::any& object) {
            // Posted on the main queue by the speech engine.
            const auto* trouble = std::any_cast<SpeechProgramTrouble>(&object);
            if (self && trouble && self->c_.windows) self->c_.windows->showSpeechProgramAlert(*trouble);
        }));
    observers_.push_back(c_.runtime.notifications.addObserver(notifications::vocalynxCheckForUpdates,
                                                              [this](const std::any&) { manualCheckForUpdates(); }));
    // What's new, 1.5 s from now when this version has not been seen.
    if (c_.windows) c_.windows->showWhatsNewIfNeeded();
}

void AppDelegate::openSettings() {
    if (c_.windows) c_.windows->showSettingsWindow();
}

void AppDelegate::handleModelLoadFailure() {
    if (c_.windows) c_.windows->showModelUnavailableAlert();
}

void AppDelegate::runScreenshotLaunch() {
    c_.runtime.log.line(QStringLiteral("[Vocalynx][ScreenshotMode] Starting state=") +
                        ScreenshotMode::stateName(screenshotMode_->state));
    if (!c_.screens || !c_.pointer) return;
    const ScreenshotScene scene{c_.runtime, c_.config, c_.engine, c_.media, *c_.screens, *c_.pointer};
    if (screenshotMode_->outputDirectory) {
        // One picture, then the application ends; nothing else starts.
        scene.exportHeroImage(*screenshotMode_);
        return;
    }
    // The dark desktop behind the staged panel, on the screen the panel goes to (the display
    // setting, else the main screen) and on every workspace, as the panel is. It is shown first,
    // so the panel, shown after it at the same level, stays above it.
    if (c_.windows) {
        c_.windows->setScreenshotBackdropScreen(
            [&config = c_.config, screens = c_.screens, pointer = c_.pointer]() -> std::optional<QRect> {
                const std::optional<ScreenDescription> screen = targetScreen(config, *screens, *pointer);
                if (!screen) return std::nullopt;
                return screens->nativeRect(screen->frame);
            });
        c_.windows->setScreenshotBackdropWorkspaces(c_.workspaces);
        c_.windows->setScreenshotBackdropContentFactory([] { return new ScreenshotBackdropView; });
        c_.windows->showScreenshotBackdrop();
    }
    // The panel first, so that its live transcript row is on screen when the staged words arrive.
    createOverlayPanel();
    scene.applyScreenshotMockData(screenshotMode_->state);
}

void AppDelegate::createOverlayPanel() {
    if (!c_.screens || !c_.pointer) return;
    overlayPanel_ = std::make_unique<OverlayPanelController>(
        OverlayPanelController::Dependencies{c_.runtime, c_.config, c_.engine, *c_.screens, *c_.pointer,
                                             c_.workspaces, c_.media, makeMediaCard()},
        screenshotMode_);
}

std::function<QWidget*()> AppDelegate::makeMediaCard() const {
    if (!c_.media) return {};
    return [media = c_.media, &runtime = c_.runtime] {
        return new MediaControlView(*media, runtime.main, runtime.clock, 12);
    };
}

void AppDelegate::applicationWillTerminate() { c_.engine.shutdown(); }

}  // namespace vocalynx
