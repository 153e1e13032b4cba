// The launch road's crash reporting, updater, agent monitor, gesture engine, stop hot key, gesture
// callback, speech warm-up, watchdog and update-check observer, and the order they come up in.

#include <gtest/gtest.h>

#include <QDir>

#include "FakeAudioPlayback.h"
#include "FakeClipboard.h"
#include "FakeDictationControl.h"
#include "FakeKeyEventInjection.h"
#include "FakeRemoteCommands.h"
#include "FakeSoundOutput.h"
#include "TestRuntime.h"
#include "app/AppDelegate.h"
#include "platform/linux/DistributionUpdater.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

class NoProcesses final : public ProcessTable {
public:
    std::vector<pid_t> otherInstances() override { return {}; }
    void requestTerminate(pid_t) override {}
};

class NoBus final : public DistributedNotificationCenter {
public:
    bool addObserver(const QString&, Observer) override { return true; }
};

class RecordingSDK final : public CrashReportingSDK {
public:
    bool start(const Options& options) override {
        started.push_back(options.dsn);
        return true;
    }
    void setTag(const QString&, const QString&) override {}
    void setContext(const QString&, const QVariantMap&) override {}
    void addBreadcrumb(const QString&, const QString&) override {}
    bool tracksAppHangs() const override { return !started.isEmpty(); }
    void appHangHeartbeat() override { ++heartbeats; }
    QStringList started;
    int heartbeats = 0;
};

// Hot keys that write a line into the launch's log when one is registered, and emit a gesture
// there: no callback may be set yet at that step.
class LoggingHotKeys final : public GlobalHotKeys {
public:
    explicit LoggingHotKeys(Logger& log) : log_(log) {}
    bool installHandler(Handler) override { return true; }
    std::optional<Ref> registerHotKey(uint32_t keyCode, uint32_t modifiers, HotKeyID) override {
        ++registrations;
        log_.line(QStringLiteral("[test] hot key registered ") + QString::number(keyCode) + QStringLiteral("/0x") +
                  QString::number(modifiers, 16));
        if (onRegister) onRegister();
        return registrations;
    }
    void unregisterHotKey(Ref) override {}
    int registrations = 0;
    std::function<void()> onRegister;

private:
    Logger& log_;
};

// Stands in for the process launcher: the warm-up looks for the speech program through it (and
// finds none). At that moment it writes a line and runs a probe.
class WarmUpProbe final : public ProcessLauncher {
public:
    explicit WarmUpProbe(Logger& log) : log_(log) {}
    std::shared_ptr<ChildProcess> launch(const LaunchCommand&, QString* error) override {
        looked();
        if (error) *error = QStringLiteral("no such program");
        return nullptr;
    }
    std::optional<RunOutput> run(const QString&, const QStringList&, QString*) override {
        looked();
        return std::nullopt;
    }
    std::function<void()> onLook;

private:
    void looked() {
        log_.line(QStringLiteral("[test] warm-up looks for the speech program"));
        if (onLook) onLook();
    }
    Logger& log_;
};

// Counts the checks the user asks for, behind the Linux updater's settings.
class CountingUpdater final : public UpdaterController {
public:
    explicit CountingUpdater(int& checks) : checks_(checks) {}
    Updater* updater() override { return inner_.updater(); }
    void checkForUpdates() override { ++checks_; }

private:
    int& checks_;
    DistributionUpdater inner_;
};

struct ServicesFixture {
    explicit ServicesFixture(QMap<QString, QString> info = TestRuntime::defaultInfo())
        : rt(InfoDictionary(std::move(info))), standard(rt.paths().config, rt.log) {
        QDir().mkpath(rt.paths().temp);
    }

    std::unique_ptr<AppDelegate> launch(std::optional<ScreenshotMode> mode = std::nullopt) {
        AppDelegate::Components c{rt.runtime(), processes, config, standard, engine, {}, {}};
        c.crashReportingSDK = &sdk;
        c.makeUpdaterController = [this](UpdaterDelegate&) { return std::make_unique<CountingUpdater>(userChecks); };
        c.agentMonitor = &monitor;
        c.watchdog = &watchdog;
        c.gestureEngine = &gestures;
        c.gestureRouter = &router;
        c.stopRecordingShortcut = &stopShortcut;
        auto delegate = std::make_unique<AppDelegate>(std::move(c), mode);
        delegate->applicationDidFinishLaunching();
        return delegate;
    }

    TestRuntime rt;
    NoProcesses processes;
    ConfigStore config{rt.runtime()};
    StandardDefaults standard;
    FakeSoundOutput output;
    SoundFeedback sounds{config, output};
    WarmUpProbe launcher{rt.log};
    WhisperEngine engine{{rt.runtime(), config, sounds, nullptr, nullptr, nullptr, nullptr, &launcher}};
    RecordingSDK sdk;
    NoBus bus;
    AgentMonitor monitor{rt.runtime(), bus, sounds};
    FakeDictationControl watchedEngine;
    MainThreadWatchdog watchdog{rt.runtime(), watchedEngine};
    FakeRemoteCommands commands;
    FakeAudioPlayback audio;
    GestureEngine gestures{{rt.runtime(), commands, commands, audio}};
    FakeKeyEventInjection keys;
    FakeClipboard clipboard;
    TextInjector injector{rt.runtime(), keys, clipboard};
    ActionExecutor executor{config, watchedEngine, injector, keys, sounds, rt.runtime()};
    GestureRouter router{config, executor};
    LoggingHotKeys hotKeys{rt.log};
    StopRecordingShortcutManager stopShortcut{config, watchedEngine, hotKeys, rt.runtime().main, rt.log};
    int userChecks = 0;
};

}  // namespace

TEST(LaunchRoadServices, NormalLaunchStartsThemInOrder) {
    ServicesFixture f;
    // A gesture emitted while the hot key is registered finds no callback yet; one emitted when the
    // warm-up starts finds it set.
    f.hotKeys.onRegister = [&f] { f.gestures.emitGesture(GestureType::triple); };
    f.launcher.onLook = [&f] { f.gestures.emitGesture(GestureType::double_); };
    // The gesture engine's step: the lines logged before it starts listening for commands. (Its
    // silent player's line comes once the clip has been checked and opened off the main thread.)
    int gestures = -1;
    f.commands.onAdd = [&](RemoteCommand) {
        if (gestures < 0) gestures = int(f.rt.log.lines().size());
    };
    auto delegate = f.launch();
    f.rt.time.runUntilIdle();
    EXPECT_TRUE(f.rt.log.contains(QStringLiteral("[Vocalynx] Silent AVAudioPlayer running: true")));
    const QStringList lines = f.rt.log.lines();
    const auto at = [&lines](const QString& part) {
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].contains(part)) return i;
        return -1;
    };
    const int sentry = lines.indexOf(QStringLiteral("[Vocalynx] Sentry disabled: SentryDSN is empty"));
    const int updater =
        lines.indexOf(QStringLiteral("[Vocalynx][Sparkle] started feed=nil autoChecks=false autoDownloads=false"));
    const int monitor = lines.indexOf(QStringLiteral("[Vocalynx] AgentMonitor started, listening for agent events"));
    const int hotKey = at(QStringLiteral("[test] hot key registered "));
    const int warmUp = at(QStringLiteral("[test] warm-up looks for the speech program"));
    const int entry = at(QStringLiteral("[Vocalynx][GestureEntry] "));
    const int watchdog = lines.indexOf(QStringLiteral("[Vocalynx][Watchdog] Started (interval=5.0s threshold=5.0s)"));
    const std::string all = lines.join(u'\n').toStdString();
    EXPECT_EQ(sentry, 0) << all;
    EXPECT_LT(sentry, updater) << all;
    EXPECT_LT(updater, monitor) << all;
    EXPECT_LT(monitor, gestures) << all;
    ASSERT_GE(hotKey, 0) << "the stop hot key is registered at launch\n" << all;
    EXPECT_EQ(f.hotKeys.registrations, 1);
    EXPECT_LE(gestures, hotKey) << all;
    ASSERT_GE(warmUp, 0) << all;
    EXPECT_LT(hotKey, warmUp) << all;
    ASSERT_EQ(entry, warmUp + 1) << "the gesture callback is set after the hot key and before the warm-up\n" << all;
    EXPECT_TRUE(lines[entry].endsWith(QStringLiteral(" event=double state=idle"))) << all;
    EXPECT_LT(warmUp, watchdog) << all;
    EXPECT_TRUE(f.watchdog.isRunning());
    ASSERT_NE(delegate->updaterController(), nullptr);

    // The settings window's request reaches the updater, once per post.
    f.rt.notifications.post(QStringLiteral("vocalynxCheckForUpdates"));
    f.rt.notifications.post(QStringLiteral("vocalynxCheckForUpdates"));
    EXPECT_EQ(f.userChecks, 2);
    // A delegate that is gone no longer observes.
    delegate.reset();
    f.rt.notifications.post(QStringLiteral("vocalynxCheckForUpdates"));
    EXPECT_EQ(f.userChecks, 2);
}

TEST(LaunchRoadServices, CrashReportingStartsFirstWhenTheBuildHasADataSourceName) {
    auto info = TestRuntime::defaultInfo();
    info.insert(InfoDictionary::kSentryDSN, QStringLiteral(" https://key@sentry.example/1 "));
    ServicesFixture f(info);
    auto delegate = f.launch();
    EXPECT_EQ(f.sdk.started, QStringList{QStringLiteral("https://key@sentry.example/1")});
    EXPECT_EQ(f.rt.log.countPart("Sentry disabled"), 0);
    // Its hang monitor hears from the main thread at once and then every second.
    EXPECT_EQ(f.sdk.heartbeats, 1);
    f.rt.time.advance(3.0);
    EXPECT_EQ(f.sdk.heartbeats, 4);
}

TEST(LaunchRoadServices, WithoutCrashReportingNoHeartbeatIsSent) {
    ServicesFixture f;
    auto delegate = f.launch();
    f.rt.time.advance(3.0);
    EXPECT_TRUE(f.sdk.started.isEmpty());
    EXPECT_EQ(f.sdk.heartbeats, 0);
}

TEST(LaunchRoadServices, ScreenshotModeStartsNoneOfThem) {
    ServicesFixture f;
    ScreenshotMode mode;
    mode.state = ScreenshotMode::State::idle;
    auto delegate = f.launch(mode);
    EXPECT_EQ(delegate->updaterController(), nullptr);
    EXPECT_FALSE(f.watchdog.isRunning());
    EXPECT_EQ(f.rt.log.countPart("[Vocalynx][Sparkle]"), 0);
    EXPECT_EQ(f.rt.log.countPart("AgentMonitor"), 0);
    EXPECT_EQ(f.hotKeys.registrations, 0);
    EXPECT_EQ(f.commands.order.size(), 0u) << "no gesture engine";
    f.rt.notifications.post(QStringLiteral("vocalynxCheckForUpdates"));
    EXPECT_EQ(f.userChecks, 0);
}
