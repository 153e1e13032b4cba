// The launch road's crash reporting, updater, agent monitor, watchdog and update-check observer.

#include <gtest/gtest.h>

#include "FakeDictationControl.h"
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
    QStringList started;
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
        : rt(InfoDictionary(std::move(info))), standard(rt.paths().config, rt.log) {}

    std::unique_ptr<AppDelegate> launch(std::optional<ScreenshotMode> mode = std::nullopt) {
        AppDelegate::Components c{rt.runtime(), processes, config, standard, engine, {}, {}};
        c.crashReportingSDK = &sdk;
        c.makeUpdaterController = [this](UpdaterDelegate&) { return std::make_unique<CountingUpdater>(userChecks); };
        c.agentMonitor = &monitor;
        c.watchdog = &watchdog;
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
    WhisperEngine engine{{rt.runtime(), config, sounds}};
    RecordingSDK sdk;
    NoBus bus;
    AgentMonitor monitor{rt.runtime(), bus, sounds};
    FakeDictationControl watchedEngine;
    MainThreadWatchdog watchdog{rt.runtime(), watchedEngine};
    int userChecks = 0;
};

}  // namespace

TEST(LaunchRoadServices, NormalLaunchStartsThemInOrder) {
    ServicesFixture f;
    auto delegate = f.launch();
    const QStringList lines = f.rt.log.lines();
    const int sentry = lines.indexOf("[Vocalynx] Sentry disabled: SentryDSN is empty");
    const int updater = lines.indexOf("[Vocalynx][Sparkle] started feed=nil autoChecks=false autoDownloads=false");
    const int monitor = lines.indexOf("[Vocalynx] AgentMonitor started, listening for agent events");
    const int watchdog = lines.indexOf("[Vocalynx][Watchdog] Started (interval=5.0s threshold=5.0s)");
    EXPECT_EQ(sentry, 0) << lines.join('\n').toStdString();
    EXPECT_LT(sentry, updater);
    EXPECT_LT(updater, monitor);
    EXPECT_LT(monitor, watchdog);
    EXPECT_TRUE(f.watchdog.isRunning());
    ASSERT_NE(delegate->updaterController(), nullptr);

    // The settings window's request reaches the updater, once per post.
    f.rt.notifications.post("vocalynxCheckForUpdates");
    f.rt.notifications.post("vocalynxCheckForUpdates");
    EXPECT_EQ(f.userChecks, 2);
    // A delegate that is gone no longer observes.
    delegate.reset();
    f.rt.notifications.post("vocalynxCheckForUpdates");
    EXPECT_EQ(f.userChecks, 2);
}

TEST(LaunchRoadServices, CrashReportingStartsFirstWhenTheBuildHasADataSourceName) {
    auto info = TestRuntime::defaultInfo();
    info.insert(InfoDictionary::kSentryDSN, " https://key@sentry.example/1 ");
    ServicesFixture f(info);
    auto delegate = f.launch();
    EXPECT_EQ(f.sdk.started, QStringList{"https://key@sentry.example/1"});
    EXPECT_EQ(f.rt.log.countPart("Sentry disabled"), 0);
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
    f.rt.notifications.post("vocalynxCheckForUpdates");
    EXPECT_EQ(f.userChecks, 0);
}
