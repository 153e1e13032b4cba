#include <gtest/gtest.h>

#include <QProcessEnvironment>

#include "FakeSoundOutput.h"
#include "FakeProcessTable.h"
#include "TestRuntime.h"
#include "app/AppDelegate.h"
#include "app/SignalHandlers.h"
#include "overlay/ScreenshotMode.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

struct LaunchFixture {
    LaunchFixture() : standard(rt.paths().config, rt.log) {}
    AppDelegate makeDelegate(std::optional<ScreenshotMode> mode = std::nullopt) {
        return AppDelegate({rt.runtime(), processes, config, standard, engine, {}, {}}, mode);
    }
    TestRuntime rt;
    FakeProcessTable processes;
    ConfigStore config{rt.runtime()};
    StandardDefaults standard;
    FakeSoundOutput output;
    SoundFeedback sounds{config, output};
    WhisperEngine engine{{rt.runtime(), config, sounds}};
};

}  // namespace

TEST(LaunchRoad, TerminatesOtherInstancesOncePausesAndContinues) {
    LaunchFixture f;
    f.processes.others = {4242};
    const MonoTime before = f.rt.time.now();
    auto delegate = f.makeDelegate();
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(f.processes.terminated, (std::vector<pid_t>{4242}));
    EXPECT_EQ(f.rt.log.count(QStringLiteral("[Vocalynx] Found 1 other instance(s), terminating them...")), 1);
    EXPECT_NEAR(secondsBetween(before, f.rt.time.now()), 0.5, 1e-9);
}

TEST(LaunchRoad, NoOtherInstanceMeansNoLineAndNoPause) {
    LaunchFixture f;
    const MonoTime before = f.rt.time.now();
    auto delegate = f.makeDelegate();
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(f.rt.log.countPart("other instance"), 0);
    EXPECT_EQ(f.rt.time.now(), before);
    EXPECT_TRUE(f.rt.log.contains(QStringLiteral("[Vocalynx] Sentry disabled: SentryDSN is empty")));
}

TEST(LaunchRoad, SignalHandlersInstallOnce) {
    LaunchFixture f;
    auto delegate = f.makeDelegate();
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(fatalSignalHandlersInstalled());
    EXPECT_FALSE(installFatalSignalHandlers());
}

TEST(LaunchRoad, ScreenshotModeStartsOnlyTheStagedScene) {
    LaunchFixture f;
    ScreenshotMode mode;
    mode.state = ScreenshotMode::State::transcribing;
    auto delegate = f.makeDelegate(mode);
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(f.rt.log.contains(QStringLiteral("[Vocalynx][ScreenshotMode] Starting state=transcribing")));
}

TEST(ScreenshotModeEnvironment, ParsesStateAndFolder) {
    struct Case {
        const char* mode;
        const char* dir;  // nullptr: variable absent
        bool present;
        ScreenshotMode::State state;
        bool hasDir;
    };
    const Case cases[] = {
        {"Recording", nullptr, true, ScreenshotMode::State::recording, false},
        {"HOVER", "/tmp/x", true, ScreenshotMode::State::hover, true},
        {"idle", "", true, ScreenshotMode::State::idle, true},
        {"", "/tmp/x", false, {}, false},
        {nullptr, nullptr, false, {}, false},
        {"Sideways", nullptr, false, {}, false},
    };
    for (const auto& c : cases) {
        QProcessEnvironment env;
        if (c.mode) env.insert(QStringLiteral("VOCALYNX_SCREENSHOT_MODE"), QString::fromUtf8(c.mode));
        if (c.dir) env.insert(QStringLiteral("VOCALYNX_SCREENSHOT_OUTPUT_DIR"), QString::fromUtf8(c.dir));
        RecordingLogger log;
        const auto mode = ScreenshotMode::fromEnvironment(env, log);
        ASSERT_EQ(mode.has_value(), c.present) << (c.mode ? c.mode : "(absent)");
        if (mode) {
            EXPECT_EQ(mode->state, c.state);
            EXPECT_EQ(mode->outputDirectory.has_value(), c.hasDir);
            if (c.hasDir) { EXPECT_EQ(*mode->outputDirectory, QString::fromUtf8(c.dir)); }
        }
    }
    QProcessEnvironment env;
    env.insert(QStringLiteral("VOCALYNX_SCREENSHOT_MODE"), QStringLiteral("Sideways"));
    RecordingLogger log;
    ScreenshotMode::fromEnvironment(env, log);
    EXPECT_EQ(log.lines(), (QStringList{QStringLiteral("[Vocalynx][ScreenshotMode] Unsupported state: Sideways")}));
}
