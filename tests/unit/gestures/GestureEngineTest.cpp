#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "FakeAudioPlayback.h"
#include "FakeRemoteCommands.h"
#include "TestRuntime.h"
#include "gestures/GestureEngine.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

struct Emitted {
    GestureType type;
    double at;  // seconds since the fixture started
    bool operator==(const Emitted&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Emitted& e) {
    return os << gestureTypeName(e.type).toStdString() << "@" << e.at;
}

class GestureEngineTest : public ::testing::Test {
protected:
    GestureEngineTest() {
        QDir().mkpath(rt.paths().temp);
        start = rt.time.now();
        engine->startListening();
        engine->setOnGesture([this](const GestureEvent& event) {
            EXPECT_TRUE(rt.time.onMain());
            emitted.push_back({event.type, elapsed()});
            EXPECT_EQ(event.timestamp, rt.time.wallNow());
        });
    }
    double elapsed() const { return secondsBetween(start, rt.time.now()); }
    // Advances the clock to the given second since the start, running everything due.
    void at(double second) { rt.time.advance(second - elapsed()); }

    TestRuntime rt;
    FakeRemoteCommands commands;
    FakeAudioPlayback audio;
    std::unique_ptr<GestureEngine> engine =
        std::make_unique<GestureEngine>(GestureEngine::Dependencies{rt, commands, commands, audio});
    std::vector<Emitted> emitted;
    MonoTime start;
};

}  // namespace

TEST_F(GestureEngineTest, StartListeningInstallsTheFiveCommandsInOrderAndHoldsTheNowPlayingSlot) {
    EXPECT_EQ(commands.order, (std::vector<RemoteCommand>{RemoteCommand::togglePlayPause, RemoteCommand::nextTrack,
                                                          RemoteCommand::previousTrack, RemoteCommand::play,
                                                          RemoteCommand::pause}));
    // The player starts once its clip is checked and opened off the main thread; the launch
    // publish comes first, then the first heartbeat refresh (paused, then the information again).
    rt.time.runUntilIdle();
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Silent AVAudioPlayer running: true")));
    ASSERT_TRUE(audio.last());
    EXPECT_TRUE(audio.last()->playing);
    EXPECT_EQ(commands.publishedSoFar(),
              (QStringList{QStringLiteral("info"), QStringLiteral("playing"), QStringLiteral("paused"),
                           QStringLiteral("info"), QStringLiteral("playing")}));
    EXPECT_EQ(commands.lastInfo.title, QStringLiteral("Vocalynx"));
    EXPECT_TRUE(engine->silentPlayer().heartbeatRunning());
}

TEST_F(GestureEngineTest, CommandsBecomeGesturesOnTheMainQueue) {
    using C = RemoteCommand;
    // count commands, each `gap` seconds after the one before.
    auto burst = [](C command, int count, double gap) {
        std::vector<std::pair<double, C>> timed;
        for (int i = 0; i < count; ++i) timed.push_back({i * gap, command});
        return timed;
    };
    struct Case {
        const char* name;
        std::vector<std::pair<double, C>> commands;
        std::vector<Emitted> expected;
        int rapidLines;
    };
    const Case cases[] = {
        {"one press", {{0, C::togglePlayPause}}, {{GestureType::single, 0.3}}, 0},
        {"two presses 0.2 s apart", {{0, C::togglePlayPause}, {0.2, C::togglePlayPause}}, {{GestureType::double_, 0.5}}, 0},
        {"three presses 0.2 s apart",
         {{0, C::togglePlayPause}, {0.2, C::togglePlayPause}, {0.4, C::togglePlayPause}},
         {{GestureType::double_, 0.7}},
         0},
        {"play and pause count as presses", {{0, C::play}, {0.2, C::pause}}, {{GestureType::double_, 0.5}}, 0},
        {"second press 0.1 s later is rapid", {{0, C::togglePlayPause}, {0.1, C::togglePlayPause}}, {{GestureType::single, 0.3}}, 1},
        {"a burst drops every press after the first",
         {{0, C::togglePlayPause}, {0.1, C::togglePlayPause}, {0.2, C::togglePlayPause}},
         {{GestureType::single, 0.3}},
         2},
        {"presses further apart than the window", {{0, C::togglePlayPause}, {0.4, C::togglePlayPause}},
         {{GestureType::single, 0.3}, {GestureType::single, 0.7}}, 0},
        {"next track discards the pending press", {{0, C::togglePlayPause}, {0.2, C::nextTrack}}, {{GestureType::double_, 0.2}}, 0},
        {"previous track is a triple at once", {{0, C::previousTrack}}, {{GestureType::triple, 0}}, 0},
        {"next and previous do not touch the press filter",
         {{0, C::nextTrack}, {0.05, C::togglePlayPause}},
         {{GestureType::double_, 0}, {GestureType::single, 0.35}},
         0},
        {"next commands 0.2 s apart are two doubles", {{0, C::nextTrack}, {0.2, C::nextTrack}},
         {{GestureType::double_, 0}, {GestureType::double_, 0.2}}, 0},
        {"a burst of 300 next commands is one double", burst(C::nextTrack, 300, 0.005), {{GestureType::double_, 0}}, 299},
        {"a burst of previous commands is one triple", burst(C::previousTrack, 20, 0.1), {{GestureType::triple, 0}}, 19},
        {"next and previous share their filter", {{0, C::nextTrack}, {0.1, C::previousTrack}, {0.2, C::nextTrack}},
         {{GestureType::double_, 0}}, 2},
        {"a rapid next after a next leaves the pending press alone",
         {{0, C::nextTrack}, {0.05, C::togglePlayPause}, {0.1, C::nextTrack}},
         {{GestureType::double_, 0}, {GestureType::single, 0.35}},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        engine = std::make_unique<GestureEngine>(GestureEngine::Dependencies{rt, commands, commands, audio});
        commands.handlers.clear();
        engine->startListening();
        engine->setOnGesture([this](const GestureEvent& event) { emitted.push_back({event.type, elapsed()}); });
        rt.log.clear();
        emitted.clear();
        start = rt.time.now();
        for (const auto& [second, command] : c.commands) {
            at(second);
            commands.send(command);
        }
        at(2.0);
        EXPECT_EQ(emitted, c.expected);
        EXPECT_EQ(rt.log.count(QStringLiteral("[Vocalynx] Ignoring rapid event (likely AirPods removal)")),
                  c.rapidLines);
        EXPECT_EQ(engine->clickCount(), 0);
        EXPECT_FALSE(engine->pressWindowOpen());
    }
}

TEST_F(GestureEngineTest, HandlersRecordTheCommandName) {
    commands.send(RemoteCommand::previousTrack);
    EXPECT_EQ(engine->lastRemoteCommandName(), QStringLiteral("previousTrack"));
    commands.send(RemoteCommand::pause);
    EXPECT_EQ(engine->lastRemoteCommandName(), QStringLiteral("pause"));
}

TEST_F(GestureEngineTest, APressCountedBeforeASuspendIsCarriedIntoTheNextWindow) {
    commands.send(RemoteCommand::togglePlayPause);
    at(0.1);
    engine->suspendSilentPlayer();
    at(1.0);
    EXPECT_TRUE(emitted.empty()) << "the window was closed by the suspend";
    EXPECT_EQ(engine->clickCount(), 1);
    commands.send(RemoteCommand::togglePlayPause);
    at(2.0);
    EXPECT_EQ(emitted, (std::vector<Emitted>{{GestureType::double_, 1.3}}));
}

TEST_F(GestureEngineTest, AGestureWithoutACallbackIsDroppedNotKept) {
    engine->setOnGesture(nullptr);
    commands.send(RemoteCommand::previousTrack);
    at(0.5);
    engine->setOnGesture([this](const GestureEvent& event) { emitted.push_back({event.type, elapsed()}); });
    at(1.0);
    EXPECT_TRUE(emitted.empty());
}

TEST_F(GestureEngineTest, AReleasedEngineIgnoresCommandsAndPendingWork) {
    commands.send(RemoteCommand::togglePlayPause);
    engine.reset();
    commands.send(RemoteCommand::togglePlayPause);
    commands.send(RemoteCommand::nextTrack);
    at(10.0);
    EXPECT_TRUE(emitted.empty());
}
