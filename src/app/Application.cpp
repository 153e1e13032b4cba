#include "app/Application.h"

#include <QApplication>
#include <QProcessEnvironment>
#include <QTimer>

#include "app/AppDelegate.h"
#include "app/SessionLoss.h"
#include "core/ActionExecutor.h"
#include "core/ConfigStore.h"
#include "core/HookInstaller.h"
#include "core/PreferencesDomain.h"
#include "core/SoundFeedback.h"
#include "core/StopRecordingShortcutManager.h"
#include "core/TextInjector.h"
#include "engine/ColiOrphanCleanup.h"
#include "engine/ModelManager.h"
#include "engine/WhisperEngine.h"
#include "windows/AlertDialog.h"
#include "windows/SettingsEnvironment.h"
#include "windows/SettingsView.h"
#include "gestures/GestureEngine.h"
#include "gestures/GestureRouter.h"
#include "platform/linux/MprisPlayerService.h"
#include "gestures/MediaRemoteService.h"
#include "platform/linux/DBusDistributedNotifications.h"
#include "platform/linux/DistributionUpdater.h"
#include "platform/linux/MprisMusicPlayers.h"
#include "platform/linux/MprisRunningPlayers.h"
#include "platform/linux/PosixProcessLauncher.h"
#include "platform/linux/ProcProcessTable.h"
#include "platform/linux/PulseAudioPlayback.h"
#include "platform/linux/QtAudioCapture.h"
#include "platform/linux/QtClipboard.h"
#include "platform/linux/QtFileDownloader.h"
#include "platform/linux/QtHttpClient.h"
#include "platform/linux/QtImageDecoder.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/QtScreens.h"
#include "platform/linux/QtSoundOutput.h"
#include "platform/linux/QtWorkspace.h"
#include "platform/linux/SampleRateConverter.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/ThreadQueues.h"
#include "platform/linux/X11GlobalHotKeys.h"
#include "platform/linux/X11PointerLocation.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/X11KeyCodeReader.h"
#include "platform/linux/X11WindowWorkspaces.h"
#include "platform/linux/XTestKeyInjection.h"
#ifdef VOCALYNX_HAVE_SENTRY
#include "platform/sentry/SentryNativeSDK.h"
#endif

namespace vocalynx {

namespace {
bool noDisplay = false;
}

void prepareDisplayPlatform() {
    // The panel repaints a small area a few times a second (the cat). Through X shared memory each
    // repaint first waits for the server to confirm the one before, a round trip through the
    // toolkit's reader thread that wakes two threads; the few pixels sent over the connection need
    // no answer.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) return;
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        noDisplay = true;
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

namespace {
// The shared components, each created once and kept until the process ends.
struct Services {
    SystemClock clock;
    QtMainQueue main;
    ThreadQueueFactory queues;
    NotificationCenter notifications;
    StdoutLogger log;
    Diagnostics diagnostics{log};
    InfoDictionary info = InfoDictionary::fromBuild();
    Paths paths = Paths::fromEnvironment();
    Runtime runtime{clock, main, queues, notifications, log, diagnostics, info, paths};
    ProcProcessTable processes;
    ConfigStore config{runtime};
    StandardDefaults standardDefaults{paths.config, log};
    QtSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    // Microphone capture over Qt Multimedia and conversion over libsoxr.
    QtAudioCapture capture;
    SampleRateConverterFactory converters;
    // Speech processes are forked from the launcher's own long-lived thread (see its header).
    PosixProcessLauncher processLauncher;
    WhisperEngine engine{{runtime, config, sounds, nullptr, nullptr, &capture, &converters, &processLauncher}};
    // Each ended orphan leaves a breadcrumb and the scope tag of the crash reports.
    ColiOrphanCleanup coliCleanup{runtime, processes, engine.coliLocator(), [this](pid_t pid) {
                                      if (CrashReportingSDK* sdk = crashReporting()) {
                                          sdk->addBreadcrumb(QStringLiteral("info"), QStringLiteral("coli.cleanup"));
                                          CrashReporting::setLastColiCleanupPidTag(*sdk, pid);
                                      }
                                  }};
    // Key injection, clipboard and the global hot key. Without a display the X session stays
    // closed: injection reports untrusted and falls back to the clipboard, the hot key never fires.
    X11Session x11;
    XTestKeyInjection keyInjection{x11};
    QtClipboard clipboard;
    TextInjector textInjector{runtime, keyInjection, clipboard};
    X11GlobalHotKeys hotKeys{x11};
    StopRecordingShortcutManager stopRecordingShortcut{config, engine, hotKeys, main, log};
    // Headset gestures: our MPRIS player on the session bus carries the remote commands and the
    // now-playing information; the silent player is a PulseAudio stream.
    ActionExecutor actions{config, engine, textInjector, keyInjection, sounds, runtime};
    // Our commands to other players are marked, so that one passed back to us is no press.
    MprisRelays mprisRelays;
    MprisPlayerService mpris{log, &mprisRelays};
    PulseAudioPlayback audioPlayback;
    GestureEngine gestures{{runtime, mpris, mpris, audioPlayback}};
    GestureRouter gestureRouter{config, actions};
    // The media service: players over MPRIS on the session bus, artwork through Qt Network.
    QtHttpClient http;
    MprisMusicPlayers musicPlayers{http, mprisRelays};
    MprisRunningPlayers runningPlayers;
    QtImageDecoder images;
    MediaRemoteService media{{runtime, musicPlayers, runningPlayers, http, images}};
    // The coding-agent hooks, driven from the settings window's agent rows.
    HookInstaller hookInstaller{paths.home, log};
    // The overlay panel's screens, pointer and sticky window hint.
    QtScreenList screens;
    X11PointerLocation pointer;
    X11WindowWorkspaces workspaces{x11};
    // Agent events arrive as session-bus signals; the watchdog pings the main loop.
    DBusDistributedNotifications distributedNotifications;
    AgentMonitor agentMonitor{runtime, distributedNotifications, sounds};
    MainThreadWatchdog watchdog{runtime, engine};
    // What the settings window's panes drive; each settings window gets a SettingsView over it.
    X11KeyCodeReader keyCodes{&x11};
    SettingsEnvironment settings = makeSettingsEnvironment();
    SettingsEnvironment makeSettingsEnvironment() {
        SettingsEnvironment e{runtime, config};
        e.sounds = &sounds;
        e.stopRecordingShortcut = &stopRecordingShortcut;
        e.keyCodes = &keyCodes;
        e.openUrl = [this](const QUrl& url) { return urls.openUrl(url); };
        e.hooks = &hookInstaller;
        e.screens = &screens;
        const ColiLocator* locator = &engine.coliLocator();
        e.speechProgram.locateColi = [locator] { return locator->locateColi(); };
        e.speechProgram.makeColiArguments = [locator] { return locator->makeColiArguments(); };
        e.speechProgram.searchedPlaces = [locator] { return locator->searchedPlaces(); };
        e.speechProgram.launcher = &processLauncher;
        return e;
    }
#ifdef VOCALYNX_HAVE_SENTRY
    SentryNativeSDK crashReportingSDK{paths.appSupport + QStringLiteral("/crash-reports")};
    CrashReportingSDK* crashReporting() { return &crashReportingSDK; }
#else
    CrashReportingSDK* crashReporting() { return nullptr; }
#endif
    // Windows and alerts.
    QtUrlOpener urls;
    DialogAlertPresenter alerts{log};
    QtFileDownloader modelDownloads;
    WindowManager windows{{runtime, standardDefaults, keyInjection, urls, alerts}};
};
}  // namespace

int runApplication(QApplication& app) {
    app.setApplicationName(QStringLiteral("Vocalynx"));
    app.setOrganizationDomain(QStringLiteral("vocalynx.app"));
    app.setQuitOnLastWindowClosed(false);

    auto services = std::make_unique<Services>();
    // The settings window shows the settings view, starting at its first section.
    services->windows.setSettingsContentFactory([s = services.get()] { return new SettingsView(s->settings); });
    // The onboarding downloads the voice models it offers into the models folder.
    services->windows.setModelManagerFactory([s = services.get()] {
        return std::make_unique<ModelManager>(modelsDirectory(s->runtime.paths), s->modelDownloads);
    });
    if (noDisplay)
        services->log.line(QStringLiteral("[Vocalynx] No display found (DISPLAY is not set); running without windows"));

    const auto screenshotMode = ScreenshotMode::fromEnvironment(QProcessEnvironment::systemEnvironment(), services->log);
    AppDelegate::Components components{services->runtime, services->processes, services->config,
                                       services->standardDefaults, services->engine, {}, {}};
    components.stopRecordingShortcut = &services->stopRecordingShortcut;
    components.gestureEngine = &services->gestures;
    components.gestureRouter = &services->gestureRouter;
    services->engine.setSilentPlayer(&services->gestures);
    components.cleanupOrphanedColiProcesses = [&services] { services->coliCleanup.cleanupOrphanedColiProcesses(); };
    components.media = &services->media;
    components.screens = &services->screens;
    components.pointer = &services->pointer;
    components.workspaces = &services->workspaces;
    components.crashReportingSDK = services->crashReporting();
    components.makeUpdaterController = [](UpdaterDelegate&) { return std::make_unique<DistributionUpdater>(); };
    components.agentMonitor = &services->agentMonitor;
    components.watchdog = &services->watchdog;
    services->engine.setMediaService(&services->media);
    components.windows = &services->windows;
    AppDelegate delegate(std::move(components), screenshotMode);

    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, [&delegate] { delegate.applicationWillTerminate(); });
    // The X server or the session bus going away (a logout, a crash, a restart) ends the program
    // the same way: the speech process ended first, then the process, with a line that says why.
    setOrderlyShutdown([&delegate] { delegate.applicationWillTerminate(); });
    if (!noDisplay) watchDisplayConnection();
    watchSessionBus(&delegate);
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    const int code = app.exec();
    // The shared components live until the process ends; skip their teardown on the way out.
    services.release();
    return code;
}

}  // namespace vocalynx
