// The gestures classes' entry points belong to the main thread: in a debug build a call from any
// other thread aborts at once with the member's name, instead of racing with the main thread.

#include <gtest/gtest.h>

#include <QDir>
#include <functional>
#include <thread>

#include "FakeAudioPlayback.h"
#include "FakeMediaPorts.h"
#include "FakeRemoteCommands.h"
#include "TestRuntime.h"
#include "gestures/GestureEngine.h"
#include "gestures/MediaRemoteService.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

void onAnotherThread(const std::function<void()>& call) {
    std::thread thread(call);
    thread.join();
}

}  // namespace

TEST(GesturesMainThreadDeathTest, EntryPointsAbortOffTheMainThreadInDebugBuilds) {
    if (!kSequenceChecks) GTEST_SKIP() << "release build: the checks are compiled away";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TestRuntime rt;
    QDir().mkpath(rt.paths().temp);
    FakeMusicPlayers musicPlayers;
    FakeRunningPlayers players;
    FakeHttpClient http;
    FakeImageDecoder images;
    FakeRemoteCommands commands;
    FakeAudioPlayback audio;
    MediaRemoteService media{
        {rt.runtime(), musicPlayers, players, http, images, QUrl(QStringLiteral("https://search.test"))}};
    GestureEngine gestures{{rt, commands, commands, audio}};

    struct Case {
        const char* where;
        std::function<void()> call;
    };
    const Case cases[] = {
        {"MediaRemoteService::startMonitoring", [&] { media.startMonitoring(); }},
        {"MediaRemoteService::sendCommand", [&] { media.sendCommand(MediaCommand::toggle); }},
        {"MediaRemoteService::pauseForRecording", [&] { media.pauseForRecording(); }},
        {"MediaRemoteService published field", [&] { media.setTrackTitle(QStringLiteral("Song")); }},
        {"GestureEngine::startListening", [&] { gestures.startListening(); }},
        {"GestureEngine::suspendSilentPlayer", [&] { gestures.suspendSilentPlayer(); }},
        {"SilentPlayerKeeper::resumeSilentPlayer", [&] { gestures.silentPlayer().resumeSilentPlayer(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        EXPECT_DEATH(onAnotherThread(c.call), std::string(c.where) + " was called off the thread it belongs to");
    }
    // On the main thread the same calls are fine.
    media.sendCommand(MediaCommand::toggle);
    gestures.suspendSilentPlayer();
    rt.time.runUntilIdle();
}
