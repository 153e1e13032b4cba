#include "app/AppDelegate.h"

#include "app/SignalHandlers.h"
#include "core/CrashReporting.h"

namespace vocalynx {

AppDelegate::AppDelegate(Components components, std::optional<ScreenshotMode> screenshotMode)
    : c_(std::move(components)), screenshotMode_(std::move(screenshotMode)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    // 1. Crash reporting.
    if (c_.configureCrashReporting)
        c_.configureCrashReporting();
    else
        CrashReporting::configure(c_.runtime.info, c_.runtime.log);
    // 2. Fatal-signal handlers, once per process.
    installFatalSignalHandlers();
    // 3. Speech processes orphaned by an earlier run.
    if (c_.cleanupOrphanedColiProcesses) c_.cleanupOrphanedColiProcesses();
    // 4. Single instance.
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
    // Steps that later components join, in this order: updater, onboarding, accessibility check,
    // overlay panel, agent monitor, gesture engine, stop hot key, gesture callback.
    if (c_.gestureEngine) c_.gestureEngine->startListening();
    if (c_.stopRecordingShortcut) c_.stopRecordingShortcut->registerShortcut();
    if (c_.gestureEngine && c_.gestureRouter)
        c_.gestureEngine->setOnGesture([this](const GestureEvent& event) {
            runGestureEntry(event, *c_.gestureRouter, c_.engine, c_.runtime);
        });
    c_.engine.warmUpColi();
    // Then: watchdog, observers, what's new.
}

void AppDelegate::runScreenshotLaunch() {
    c_.runtime.log.line(QStringLiteral("[Vocalynx][ScreenshotMode] Starting state=") +
                        ScreenshotMode::stateName(screenshotMode_->state));
}

void AppDelegate::applicationWillTerminate() { c_.engine.shutdown(); }

}  // namespace vocalynx
