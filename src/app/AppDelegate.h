#pragma once
#include <QObject>
#include <functional>
#include <optional>

#include "core/AgentMonitor.h"
#include "core/ConfigStore.h"
#include "core/CrashReporting.h"
#include "core/MainThreadWatchdog.h"
#include "core/PreferencesDomain.h"
#include "core/StopRecordingShortcutManager.h"
#include "core/UpdaterHookup.h"
#include "engine/WhisperEngine.h"
#include "gestures/GestureEngine.h"
#include "gestures/GestureRouter.h"
#include "gestures/MediaRemoteService.h"
#include "overlay/OverlayAnimation.h"
#include "overlay/OverlayPanelController.h"
#include "overlay/ScreenshotMode.h"
#include "platform/ProcessTable.h"
#include "platform/Runtime.h"
#include "windows/WindowManager.h"

namespace vocalynx {

// The application delegate: runs the launch road in its fixed order and the shutdown step.
// Each component is handed in; a step whose component is absent is skipped.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    struct Components {
        Runtime& runtime;
        ProcessTable& processes;
        ConfigStore& config;
        StandardDefaults& standardDefaults;
        WhisperEngine& engine;
        // Hooks the later steps call; unset ones are skipped.
        std::function<void()> configureCrashReporting;
        std::function<void()> cleanupOrphanedColiProcesses;
        // The stop-recording hot key, registered at launch with the stored shortcut.
        StopRecordingShortcutManager* stopRecordingShortcut = nullptr;
        // The gesture engine, started at launch, and the router its gestures go through.
        GestureEngine* gestureEngine = nullptr;
        GestureRouter* gestureRouter = nullptr;
        // The media service; the overlay panel starts its monitoring.
        MediaRemoteService* media = nullptr;
        // The crash-reporting SDK; null in a build without it.
        CrashReportingSDK* crashReportingSDK = nullptr;
        // Makes the update framework's controller at launch; unset: no updater.
        UpdaterHookup::ControllerFactory makeUpdaterController = {};
        AgentMonitor* agentMonitor = nullptr;
        MainThreadWatchdog* watchdog = nullptr;
        // The screens and pointer the overlay panel is placed by; without them there is no panel.
        ScreenList* screens = nullptr;
        PointerLocation* pointer = nullptr;
        WindowWorkspaces* workspaces = nullptr;
        // The application's windows and alerts (onboarding, settings, what's new).
        WindowManager* windows = nullptr;
    };

    AppDelegate(Components components, std::optional<ScreenshotMode> screenshotMode);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    const std::optional<ScreenshotMode>& screenshotMode() const { return screenshotMode_; }
    OverlayPanelController* overlayPanel() const { return overlayPanel_.get(); }

    // How often the main thread tells the crash reporter's hang monitor that it is alive; well
    // inside the monitor's timeout (CrashReportingSDK::Options::appHangTimeout).
    static constexpr double kAppHangHeartbeatInterval = 1.0;

    // The update framework: the launch check and the check the settings window asks for.
    void startUpdater() { updater_.startUpdater(); }
    void manualCheckForUpdates() { updater_.manualCheckForUpdates(); }
    UpdaterController* updaterController() const { return updater_.controller(); }
    // Observer targets of the in-process notifications.
    void openSettings();
    void handleModelLoadFailure();

private:
    void terminateOtherInstances();
    void runNormalLaunch();
    void runScreenshotLaunch();
    void createOverlayPanel();
    // Makes the hover card's media card; empty without a media service.
    std::function<QWidget*()> makeMediaCard() const;

    Components c_;
    std::optional<ScreenshotMode> screenshotMode_;
    UpdaterHookup updater_;
    std::vector<NotificationCenter::Token> observers_;
    std::unique_ptr<OverlayPanelController> overlayPanel_;
    std::unique_ptr<FrameTicker> appHangHeartbeat_;
};

}  // namespace vocalynx
