#include <gtest/gtest.h>

#include "FakeFileDownloader.h"
#include "FakeKeyEventInjection.h"
#include "FakeSoundOutput.h"
#include "FakeWorkspace.h"
#include "LiveRuntime.h"
#include "WidgetProbe.h"
#include "TestRuntime.h"
#include "app/AppDelegate.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

class NoProcesses final : public ProcessTable {
public:
    std::vector<pid_t> otherInstances() override { return {}; }
    void requestTerminate(pid_t) override {}
};

// One launch of the application with its windows made offscreen. Several launches may share one
// home folder (the runtime), as a user's successive runs do.
struct Launch {
    explicit Launch(TestRuntime& runtime) : rt(runtime) {
        guiApplication();
        AppDelegate::Components components{rt.runtime(), processes, config, standard, engine, {}, {}};
        windows.setModelManagerFactory(
            [this] { return std::make_unique<ModelManager>(modelsDirectory(this->rt.paths()), downloads); });
        components.windows = &windows;
        delegate = std::make_unique<AppDelegate>(std::move(components), std::nullopt);
        delegate->applicationDidFinishLaunching();
    }
    TestRuntime& rt;
    NoProcesses processes;
    ConfigStore config{rt.runtime()};
    StandardDefaults standard{rt.paths().config, rt.log};
    FakeSoundOutput output;
    SoundFeedback sounds{config, output};
    WhisperEngine engine{{rt.runtime(), config, sounds}};
    FakeKeyEventInjection keys;
    FakeUrlOpener urls;
    FakeAlertPresenter alerts;
    FakeFileDownloader downloads;
    WindowManager windows{{rt.runtime(), standard, keys, urls, alerts}};
    std::unique_ptr<AppDelegate> delegate;
};

}  // namespace

TEST(LaunchWindows, FirstRunShowsOnboardingOnlyAndTheNextLaunchShowsWhatsNew) {
    TestRuntime rt;  // version "1.0.0"
    {
        Launch first(rt);
        ASSERT_TRUE(first.windows.onboardingWindow());
        EXPECT_TRUE(first.windows.onboardingWindow()->isVisible());
        rt.time.advance(5.0);
        EXPECT_EQ(first.windows.whatsNewWindow(), nullptr);
        EXPECT_TRUE(first.standard.lastSeenWhatsNew().isNull());
        // The user finishes the guide.
        first.standard.setOnboardingComplete(true);
    }
    {
        Launch second(rt);
        EXPECT_EQ(second.windows.onboardingWindow(), nullptr);
        rt.time.advance(1.49);
        EXPECT_EQ(second.windows.whatsNewWindow(), nullptr);
        rt.time.advance(0.01);
        ASSERT_TRUE(second.windows.whatsNewWindow());
        second.windows.whatsNewWindow()->close();
        EXPECT_EQ(second.standard.lastSeenWhatsNew(), QStringLiteral("1.0.0"));
    }
    {
        Launch third(rt);
        rt.time.advance(5.0);
        EXPECT_EQ(third.windows.whatsNewWindow(), nullptr) << "a seen version is not shown again";
    }
}

TEST(LaunchWindows, ThePermissionCheckRunsOnceTwoSecondsAfterLaunch) {
    TestRuntime rt;
    Launch launch(rt);
    launch.keys.trusted = false;
    rt.time.advance(1.99);
    EXPECT_TRUE(launch.alerts.shown.empty());
    rt.time.advance(0.01);
    ASSERT_EQ(launch.alerts.shown.size(), 1u);
    EXPECT_EQ(launch.alerts.shown[0].message, QStringLiteral("无法向其他应用输入文字"));
    rt.time.advance(60.0);
    EXPECT_EQ(launch.alerts.shown.size(), 1u);
}

TEST(LaunchWindows, EveryModelFailureShowsTheAlertAndThePanelOpensSettings) {
    TestRuntime rt;
    Launch launch(rt);
    rt.time.advance(3.0);
    launch.alerts.shown.clear();
    rt.notifications.post(notifications::vocalynxModelLoadFailed);
    rt.notifications.post(notifications::vocalynxModelLoadFailed);
    ASSERT_EQ(launch.alerts.shown.size(), 2u);
    EXPECT_EQ(launch.alerts.shown[1].message, QStringLiteral("语音模型不可用"));
    EXPECT_EQ(launch.windows.settingsWindow(), nullptr);

    rt.notifications.post(notifications::openSettingsFromPanel);
    QWidget* settings = launch.windows.settingsWindow();
    ASSERT_TRUE(settings);
    EXPECT_TRUE(settings->isVisible());
    rt.notifications.post(notifications::openSettingsFromPanel);
    EXPECT_EQ(launch.windows.settingsWindow(), settings);
}

TEST(LaunchWindows, AFailureReportedFromAnotherThreadWaitsForTheMainQueue) {
    TestRuntime rt;
    Launch launch(rt);
    rt.time.advance(3.0);
    launch.alerts.shown.clear();
    std::thread poster([&rt] { rt.notifications.post(notifications::vocalynxModelLoadFailed); });
    poster.join();
    EXPECT_TRUE(launch.alerts.shown.empty());
    rt.time.runUntilIdle();
    EXPECT_EQ(launch.alerts.shown.size(), 1u);
}

TEST(LaunchWindows, NoObserverOutlivesTheDelegate) {
    TestRuntime rt;
    {
        Launch launch(rt);
        rt.time.advance(3.0);
    }
    rt.notifications.post(notifications::vocalynxModelLoadFailed);
    rt.notifications.post(notifications::openSettingsFromPanel);
    rt.time.runUntilIdle();
    SUCCEED();
}
