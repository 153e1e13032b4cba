// The media service with its background work on real worker threads (the main queue stays on the
// virtual clock, run by the test thread): polls, commands and player changes overlap with the
// readings that share the running-player set and the artwork cache.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "FakeMediaPorts.h"
#include "TestRuntime.h"
#include "gestures/MediaRemoteService.h"
#include "platform/linux/ThreadQueues.h"

using namespace vocalynx;
using namespace vocalynx::test;

TEST(MediaServiceThreads, OverlappingPollsCommandsAndPlayerChangesShareTheCacheSafely) {
    TestRuntime rt;
    FakeScriptRunner scripts;
    FakeRunningPlayers players;
    FakeHttpClient http;
    FakeImageDecoder images;
    scripts.players[kMusicPlayer] = {"playing||Song||Artist||Album", "1", FakeImageDecoder::encode(8, 8, 1, 2, 3), {}, true};
    scripts.players[kSpotifyPlayer] = {"paused||Other||Artist||Album", {}, {}, "https://art.test/a", true};
    http.bodies["https://art.test/a"] = FakeImageDecoder::encode(8, 8, 4, 5, 6);
    players.running = {kMusicPlayer, kSpotifyPlayer};

    auto pool = std::make_unique<ThreadQueueFactory>();
    const Runtime& base = rt.runtime();
    Runtime runtime{rt.time, rt.time.main(), *pool, rt.notifications, rt.log, base.diagnostics, base.info, base.paths};
    auto service = std::make_unique<MediaRemoteService>(
        MediaRemoteService::Dependencies{runtime, scripts, players, http, images, QUrl("https://search.test")});
    MediaRemoteService& media = *service;

    media.startMonitoring();
    for (int i = 0; i < 300; ++i) {
        media.pollNowPlaying();
        if (i % 3 == 0) media.sendCommand(MediaCommand::toggle);
        if (i % 7 == 0) players.terminate(kMusicPlayer);
        if (i % 7 == 3) players.launch(kMusicPlayer);
        if (i % 11 == 0) media.clearNowPlaying();
        if (i % 13 == 0) media.pauseForRecording();
        if (i % 13 == 5) media.resumeAfterRecording();
        rt.time.advance(0.05);
        std::this_thread::yield();
    }

    // Once the players hold still, polls settle on the Music reading and its artwork. A poll still
    // in flight from the churn above (slow on a loaded machine) may answer first with what it saw
    // then, so keep polling until the steady reading has arrived. A reading that lost its artwork
    // in the churn may have sent the track to the search, whose failure is final for that track.
    players.launch(kMusicPlayer);
    const AccentColor musicAccent{1 / 255.0, 2 / 255.0, 3 / 255.0, 1};
    const QString musicKey = trackKey(kMusicPlayer, "Song", "Artist", "Album");
    auto settled = [&] {
        return media.trackTitle() == "Song" && media.activePlayer() == kMusicPlayer &&
               (media.artworkAccentColor() == musicAccent || media.failedArtworkKeys().contains(musicKey));
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!settled() && std::chrono::steady_clock::now() < deadline) {
        media.pollNowPlaying();
        rt.time.runUntilIdle();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(media.trackTitle(), "Song");
    EXPECT_EQ(media.activePlayer(), kMusicPlayer);
    if (!media.failedArtworkKeys().contains(musicKey)) { EXPECT_EQ(media.artworkAccentColor(), musicAccent); }
    EXPECT_FALSE(scripts.calls().contains("unrecognised"));

    // Work still queued finds the service gone: the main-queue steps do nothing, and the worker
    // threads end before the fakes they use.
    service.reset();
    pool.reset();
    rt.time.advance(10);
}

// Player calls and downloads that hang hold only the service's own threads: work posted to the
// shared pool, where the dictation's work runs, still runs meanwhile.
TEST(MediaServiceThreads, HangingPlayersAndDownloadsNeverHoldTheSharedPool) {
    TestRuntime rt;
    FakeScriptRunner scripts;
    FakeRunningPlayers players;
    FakeHttpClient http;
    FakeImageDecoder images;
    scripts.players[kSpotifyPlayer] = {"playing||Song||Artist||Album", {}, {}, "https://art.test/a", true};
    players.running = {kSpotifyPlayer};
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<int> hanging{0};
    auto hang = [&] {
        ++hanging;
        released.wait();
    };
    http.beforeAnswer = [&](const QString&) { hang(); };
    scripts.beforeAnswer = [&](const QString& call) {
        if (call == "Spotify:toggle") hang();
    };

    auto pool = std::make_unique<ThreadQueueFactory>();
    const Runtime& base = rt.runtime();
    Runtime runtime{rt.time, rt.time.main(), *pool, rt.notifications, rt.log, base.diagnostics, base.info, base.paths};
    auto service = std::make_unique<MediaRemoteService>(
        MediaRemoteService::Dependencies{runtime, scripts, players, http, images, QUrl("https://search.test")});
    service->startMonitoring();
    for (int i = 0; i < 32; ++i) {
        service->pollNowPlaying();
        service->sendCommand(MediaCommand::toggle);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (hanging.load() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_GE(hanging.load(), 2);

    std::promise<void> ran;
    pool->global(QoS::Default).post([&] { ran.set_value(); });
    const bool ranWhileHanging = ran.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    const int hangingThen = hanging.load();
    release.set_value();
    EXPECT_TRUE(ranWhileHanging);
    EXPECT_LE(hangingThen, int(MediaRemoteService::workerThreads));

    service.reset();
    pool.reset();
    rt.time.advance(10);
}
