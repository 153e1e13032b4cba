// The media service with its background work on real worker threads (the main queue stays on the
// virtual clock, run by the test thread): polls, commands and player changes overlap with the
// readings that share the running-player set and the artwork cache.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <thread>

#include "FakeMediaPorts.h"
#include "TestRuntime.h"
#include "gestures/MediaRemoteService.h"
#include "platform/linux/ThreadQueues.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// The service over real worker threads, with the main queue on the virtual clock. It is torn down
// service first, then the worker threads (joined, so that nothing still running calls a fake),
// then the fakes.
class MediaServiceThreads : public ::testing::Test {
protected:
    ~MediaServiceThreads() override {
        // Work still queued finds the service gone: the main-queue steps do nothing, and the
        // worker threads end before the fakes they use.
        service.reset();
        pool.reset();
        rt.time.advance(10);
    }

    TestRuntime rt;
    FakeMusicPlayers musicPlayers;
    FakeRunningPlayers players;
    FakeHttpClient http;
    FakeImageDecoder images;
    std::unique_ptr<ThreadQueueFactory> pool = std::make_unique<ThreadQueueFactory>();
    Runtime runtime{rt.time, rt.time.main(), *pool, rt.notifications, rt.log, rt.runtime().diagnostics,
                    rt.runtime().info, rt.runtime().paths};
    std::unique_ptr<MediaRemoteService> service = std::make_unique<MediaRemoteService>(MediaRemoteService::Dependencies{
        runtime, musicPlayers, players, http, images, QUrl(QStringLiteral("https://search.test"))});
};

}  // namespace

TEST_F(MediaServiceThreads, OverlappingPollsCommandsAndPlayerChangesShareTheCacheSafely) {
    musicPlayers.players[kMusicPlayer] = {PlayerTrack{true, QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Album")}, QStringLiteral("file:///cover.png"),
                                     FakeImageDecoder::encode(8, 8, 1, 2, 3), true};
    musicPlayers.players[kSpotifyPlayer] = {PlayerTrack{false, QStringLiteral("Other"), QStringLiteral("Artist"), QStringLiteral("Album")}, QStringLiteral("https://art.test/a"), {}, true};
    http.bodies[QStringLiteral("https://art.test/a")] = FakeImageDecoder::encode(8, 8, 4, 5, 6);
    players.running = {kMusicPlayer, kSpotifyPlayer};

    MediaRemoteService& media = *service;

    media.startMonitoring();
    for (int i = 0; i < 300; ++i) {
        media.pollNowPlaying();
        if (i % 3 == 0) media.sendCommand(MediaCommand::toggle);
        if (i % 7 == 0) players.terminate(kMusicPlayer);
        if (i % 7 == 3) players.launch(kMusicPlayer);
        if (i % 11 == 0) {  // for a moment no player runs: the poll clears the reading and the cache
            const QSet<QString> running = players.running;
            for (const QString& p : running) players.terminate(p);
            media.pollNowPlaying();
            for (const QString& p : running) players.launch(p);
        }
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
    const QString musicKey =
        trackKey(kMusicPlayer, QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Album"));
    auto settled = [&] {
        return media.trackTitle() == QStringLiteral("Song") && media.activePlayer() == kMusicPlayer &&
               (media.artworkAccentColor() == musicAccent || media.bookkeeping().failedArtworkKeys.contains(musicKey));
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!settled() && std::chrono::steady_clock::now() < deadline) {
        media.pollNowPlaying();
        rt.time.runUntilIdle();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(media.trackTitle(), QStringLiteral("Song"));
    EXPECT_EQ(media.activePlayer(), kMusicPlayer);
    if (!media.bookkeeping().failedArtworkKeys.contains(musicKey)) { EXPECT_EQ(media.artworkAccentColor(), musicAccent); }
}

// Player calls and downloads that hang hold only the service's own threads: work posted to the
// shared pool, where the dictation's work runs, still runs meanwhile.
TEST_F(MediaServiceThreads, HangingPlayersAndDownloadsNeverHoldTheSharedPool) {
    musicPlayers.players[kSpotifyPlayer] = {PlayerTrack{true, QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Album")}, QStringLiteral("https://art.test/a"), {}, true};
    players.running = {kSpotifyPlayer};
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    std::atomic<int> hanging{0};
    auto hang = [&] {
        ++hanging;
        released.wait();
    };
    http.beforeAnswer = [&](const QString&) { hang(); };
    musicPlayers.beforeAnswer = [&](const QString& call) {
        if (call == QStringLiteral("Spotify:toggle")) hang();
    };

    service->startMonitoring();
    for (int i = 0; i < 32; ++i) {
        service->pollNowPlaying();
        service->sendCommand(MediaCommand::toggle);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (hanging.load() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_GE(hanging.load(), 2);

    std::promise<void> ran;
    pool->global().post([&] { ran.set_value(); });
    const bool ranWhileHanging = ran.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    const int hangingThen = hanging.load();
    release.set_value();
    EXPECT_TRUE(ranWhileHanging);
    EXPECT_LE(hangingThen, int(MediaRemoteService::workerThreads));

    // The fakes' hooks use this test's own variables: the worker threads end while they exist.
    service.reset();
    pool.reset();
}

// A search that outlasts the readings after it: by the time its answer is back, the track it was
// for is shown again with artwork of its own, and another track's search is the pending one. The
// late answer must not replace the track's own artwork.
TEST_F(MediaServiceThreads, ASearchAnswerForAKeyNoLongerPendingIsDropped) {
    auto searchUrl = [](const QString& title) {
        return QStringLiteral("https://search.test/search?term=") + title +
               QStringLiteral("%20Artist%20Album&media=music&limit=10");
    };
    http.bodies[searchUrl(QStringLiteral("First"))] =
        R"({"results":[{"collectionName":"Album","artworkUrl100":"https://img.test/100x100bb"}]})";
    http.bodies[QStringLiteral("https://img.test/600x600bb")] = FakeImageDecoder::encode(1, 1, 9, 9, 9);
    http.bodies[QStringLiteral("https://art.test/own")] = FakeImageDecoder::encode(1, 1, 1, 2, 3);
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    http.beforeAnswer = [&](const QString& address) {
        if (address == searchUrl(QStringLiteral("First"))) released.wait();
    };
    auto& spotify = musicPlayers.players[kSpotifyPlayer];
    spotify = {PlayerTrack{true, QStringLiteral("First"), QStringLiteral("Artist"), QStringLiteral("Album")}, QStringLiteral(""), {}, true};
    players.running = {kSpotifyPlayer};

    MediaRemoteService& media = *service;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto runUntil = [&](const std::function<bool()>& done) {
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            rt.time.runUntilIdle();
            std::this_thread::yield();
        }
        return done();
    };
    const QString firstKey =
        trackKey(kSpotifyPlayer, QStringLiteral("First"), QStringLiteral("Artist"), QStringLiteral("Album"));
    const QString secondKey =
        trackKey(kSpotifyPlayer, QStringLiteral("Second"), QStringLiteral("Artist"), QStringLiteral("Album"));

    // The first track without artwork: its search starts and hangs.
    media.startMonitoring();
    ASSERT_TRUE(runUntil([&] { return media.bookkeeping().pendingArtworkFetchKey == firstKey; }));
    // The second track without artwork: its search is now the pending one (and finds nothing).
    spotify.status = PlayerTrack{true, QStringLiteral("Second"), QStringLiteral("Artist"), QStringLiteral("Album")};
    media.pollNowPlaying();
    ASSERT_TRUE(runUntil([&] { return media.bookkeeping().failedArtworkKeys.contains(secondKey); }));
    // The first track again, now with artwork of its own.
    spotify.status = PlayerTrack{true, QStringLiteral("First"), QStringLiteral("Artist"), QStringLiteral("Album")};
    spotify.artworkUrl = QStringLiteral("https://art.test/own");
    media.pollNowPlaying();
    ASSERT_TRUE(runUntil([&] { return media.artworkAccentColor().has_value(); }));
    ASSERT_EQ(media.bookkeeping().lastArtworkTrackKey, firstKey);
    ASSERT_EQ(media.bookkeeping().pendingArtworkFetchKey, secondKey);

    // The first search's answer arrives late. Joining the pool lets it finish and post its result.
    release.set_value();
    pool.reset();
    rt.time.runUntilIdle();
    EXPECT_EQ(http.count(QStringLiteral("https://img.test/600x600bb")), 1) << "the late search did finish";
    ASSERT_TRUE(media.artwork());
    EXPECT_EQ(*media.artwork(), FakeImageDecoder::solid(1, 1, 1, 2, 3)) << "the track's own artwork stays";
    EXPECT_EQ(media.bookkeeping().cachedArtworkData, FakeImageDecoder::encode(1, 1, 1, 2, 3));
}
