#include "app/AppDelegate.h"

#include "app/SignalHandlers.h"
#include "core/CrashReporting.h"

#include <QPointer>

namespace vocalynx {

AppDelegate::AppDelegate(Components components, std::optional<ScreenshotMode> screenshotMode)
    : c_(std::move(components)), screenshotMode_(std::move(screenshotMode)) {}

AppDelegate::~AppDelegate() {
    for (NotificationCenter::Token token : observerTokens_) c_.runtime.notifications.removeObserver(token);
}

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
    if (c_.windows && !c_.standardDefaults.onboardingComplete()) c_.windows->showOnboardingWindow();
    if (c_.windows) {
        QPointer<WindowManager> windows(c_.windows);
        c_.runtime.main.postAfter(Duration(2.0), [windows] {
            if (windows) windows->checkAccessibilityPermission();
        });
    }
    if (c_.stopRecordingShortcut) c_.stopRecordingShortcut->registerShortcut();
    c_.engine.warmUpColi();
    // Then: watchdog, observers, what's new.
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
    observerTokens_.push_back(
        c_.runtime.notifications.addObserver(notifications::openSettingsFromPanel, onMain(&AppDelegate::openSettings)));
    observerTokens_.push_back(c_.runtime.notifications.addObserver(notifications::vocalynxModelLoadFailed,
                                                                   onMain(&AppDelegate::handleModelLoadFailure)));
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
}

void AppDelegate::applicationWillTerminate() { c_.engine.shutdown(); }

}  // namespace vocalynx
