// The media service on the virtual clock, with fake players, a fake running-player source and
// fake downloads: readings, the poll order, the warning, commands and their refresh polls, the
// recording pause, and the artwork cache and search.

#include <gtest/gtest.h>

#include "FakeMediaPorts.h"
#include "TestRuntime.h"
#include "gestures/MediaRemoteService.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// What the card says when running players do not answer: that they did not, and nothing about
// settings that do not exist here.
QString warningFor(const QString& players) { return players + QStringLiteral(" 没有响应，暂时无法读取或控制播放。"); }

QString playing(const QString& title, const QString& artist = QStringLiteral("Artist"),
                const QString& album = QStringLiteral("Album")) {
    return QStringLiteral("playing||") + title + QStringLiteral("||") + artist + QStringLiteral("||") + album;
}

class MediaServiceTest : public ::testing::Test {
protected:
    // Starts monitoring with the given players running and lets the first poll finish.
    void start(QSet<QString> running) {
        players.running = std::move(running);
        media.startMonitoring();
        rt.time.runUntilIdle();
    }
    void poll() {
        media.pollNowPlaying();
        rt.time.runUntilIdle();
    }
    QString key(const QString& player, const QString& title) const {
        return trackKey(player, title, QStringLiteral("Artist"), QStringLiteral("Album"));
    }
    QString searchUrl(const QString& title) const {
        return QStringLiteral("https://search.test/search?term=") + title +
               QStringLiteral("%20Artist%20Album&media=music&limit=10");
    }

    TestRuntime rt;
    FakeScriptRunner scripts;
    FakeRunningPlayers players;
    FakeHttpClient http;
    FakeImageDecoder images;
    MediaRemoteService media{
        {rt.runtime(), scripts, players, http, images, QUrl(QStringLiteral("https://search.test"))}};
};

// ---- readings ----

struct ReplyCase {
    const char* name;
    std::optional<QString> reply;
    bool read;
    QString title, artist, album;
    bool isPlaying;
};

TEST_F(MediaServiceTest, StatusRepliesAreReadOrRejected) {
    const ReplyCase cases[] = {
        {"playing", QStringLiteral("playing||Song||Singer||Record"), true, QStringLiteral("Song"),
         QStringLiteral("Singer"), QStringLiteral("Record"), true},
        {"paused", QStringLiteral("paused||Song||Singer||Record"), true, QStringLiteral("Song"),
         QStringLiteral("Singer"), QStringLiteral("Record"), false},
        {"five parts: the fourth is the album", QStringLiteral("playing||Song||Singer||Record||extra"), true,
         QStringLiteral("Song"), QStringLiteral("Singer"), QStringLiteral("Record"), true},
        {"empty artist and album are kept", QStringLiteral("playing||Song||||"), true, QStringLiteral("Song"),
         QStringLiteral(""), QStringLiteral(""), true},
        {"any other state is not playing", QStringLiteral("fast forwarding||Song||Singer||Record"), true,
         QStringLiteral("Song"), QStringLiteral("Singer"), QStringLiteral("Record"), false},
        {"empty title", QStringLiteral("playing||||Singer||Record"), false, QStringLiteral(""), QStringLiteral(""),
         QStringLiteral(""), false},
        {"three parts", QStringLiteral("playing||Song||Singer"), false, QStringLiteral(""), QStringLiteral(""),
         QStringLiteral(""), false},
        {"stopped", QStringLiteral("stopped"), false, QStringLiteral(""), QStringLiteral(""), QStringLiteral(""),
         false},
        {"script error", std::nullopt, false, QStringLiteral(""), QStringLiteral(""), QStringLiteral(""), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestRuntime localRt;
        FakeScriptRunner localScripts;
        FakeRunningPlayers localPlayers;
        localPlayers.running = {kMusicPlayer};
        localScripts.players[kMusicPlayer].status = c.reply;
        MediaRemoteService service{
            {localRt.runtime(), localScripts, localPlayers, http, images, QUrl(QStringLiteral("https://search.test"))}};
        service.startMonitoring();
        localRt.time.runUntilIdle();
        EXPECT_EQ(service.trackTitle(), c.title);
        EXPECT_EQ(service.artist(), c.artist);
        EXPECT_EQ(service.album(), c.album);
        EXPECT_EQ(service.isPlaying(), c.isPlaying);
        EXPECT_EQ(service.activePlayer(), c.read ? kMusicPlayer : QString());
        // With Music running and nothing read while no title was shown, the warning appears.
        EXPECT_EQ(service.automationWarning(),
                  c.read ? std::nullopt : std::optional(warningFor(QStringLiteral("Music"))));
        EXPECT_FALSE(localScripts.calls().contains(QStringLiteral("unrecognised")));
    }
}

TEST_F(MediaServiceTest, MusicIsReadFirstAndSpotifyOnlyWhenMusicGivesNothing) {
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("From Music"));
    scripts.players[kSpotifyPlayer].status = playing(QStringLiteral("From Spotify"));
    start({kMusicPlayer, kSpotifyPlayer});
    EXPECT_EQ(media.activePlayer(), kMusicPlayer);
    EXPECT_EQ(media.trackTitle(), QStringLiteral("From Music"));
    EXPECT_EQ(scripts.count(QStringLiteral("Spotify:status")), 0);

    // A Music reply without a title gives no reading: the poll goes on to Spotify.
    scripts.players[kMusicPlayer].status = QStringLiteral("playing||||Artist||Album");
    poll();
    EXPECT_EQ(media.activePlayer(), kSpotifyPlayer);
    EXPECT_EQ(media.trackTitle(), QStringLiteral("From Spotify"));
}

TEST_F(MediaServiceTest, PollsAskedForWhileAReadingIsOutRunOnceAfterIt) {
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("First"));
    start({kMusicPlayer});
    scripts.clearCalls();
    // The timer, refresh polls and commands may ask again and again while a slow reading is out.
    for (int i = 0; i < 5; ++i) media.pollNowPlaying();
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("Second"));
    rt.time.runUntilIdle();
    EXPECT_EQ(scripts.count(QStringLiteral("Music:status")), 2) << "the reading out, then one more";
    EXPECT_EQ(media.trackTitle(), QStringLiteral("Second"));
    poll();
    EXPECT_EQ(scripts.count(QStringLiteral("Music:status")), 3) << "once back, a poll reads at once";
}

TEST_F(MediaServiceTest, APlayerThatDoesNotRunIsNeverAsked) {
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    scripts.players[kSpotifyPlayer].status = playing(QStringLiteral("Other"));
    start({kSpotifyPlayer});
    EXPECT_EQ(media.activePlayer(), kSpotifyPlayer);
    EXPECT_EQ(scripts.count(QStringLiteral("Music:status")), 0);
}

TEST_F(MediaServiceTest, WarningListsEveryRunningPlayerInOrder) {
    start({kSpotifyPlayer, kMusicPlayer});  // both run, neither can be read
    EXPECT_EQ(media.automationWarning(), warningFor(QStringLiteral("Music / Spotify")));
    EXPECT_EQ(media.trackTitle(), QStringLiteral(""));
}

TEST_F(MediaServiceTest, WithoutRunningPlayersPollsClearAndCommandsAreRefused) {
    media.setAutomationWarning(QStringLiteral("earlier"));
    media.setTrackTitle(QStringLiteral("Old"));
    media.setActivePlayer(kMusicPlayer);
    media.setIsPlaying(true);
    start({});
    EXPECT_EQ(media.trackTitle(), QStringLiteral(""));
    EXPECT_EQ(media.activePlayer(), QStringLiteral(""));
    EXPECT_FALSE(media.isPlaying());
    EXPECT_EQ(media.automationWarning(), QStringLiteral("earlier")) << "clearing leaves the warning alone";
    EXPECT_FALSE(media.sendCommand(MediaCommand::toggle));
    rt.time.runUntilIdle();
    EXPECT_TRUE(scripts.calls().isEmpty());
}

TEST_F(MediaServiceTest, AStoppedPlayerClearsTheTrackAndWarnsOnTheNextPoll) {
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    start({kMusicPlayer});
    ASSERT_EQ(media.trackTitle(), QStringLiteral("Song"));

    scripts.players[kMusicPlayer].status = QStringLiteral("stopped");
    poll();
    EXPECT_EQ(media.trackTitle(), QStringLiteral(""));
    EXPECT_EQ(media.automationWarning(), std::nullopt) << "a title was still shown";
    poll();
    EXPECT_EQ(media.automationWarning(), warningFor(QStringLiteral("Music")));

    // A reading again removes the warning.
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    poll();
    EXPECT_EQ(media.automationWarning(), std::nullopt);
}

// ---- monitoring ----

TEST_F(MediaServiceTest, PollsEveryFiveSecondsAndASecondStartAddsNothing) {
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    start({kMusicPlayer});
    media.startMonitoring();
    rt.time.runUntilIdle();
    EXPECT_EQ(players.launchHandlers.size(), 1u);
    EXPECT_EQ(players.terminationHandlers.size(), 1u);
    EXPECT_EQ(scripts.count(QStringLiteral("Music:status")), 1);
    rt.time.advance(4.9);
    EXPECT_EQ(scripts.count(QStringLiteral("Music:status")), 1);
    rt.time.advance(0.1);
    EXPECT_EQ(scripts.count(QStringLiteral("Music:status")), 2);
    rt.time.advance(10);
    EXPECT_EQ(scripts.count(QStringLiteral("Music:status")), 4);
}

TEST_F(MediaServiceTest, LaunchesAndTerminationsChangeThePlayerSetForTheNextPoll) {
    scripts.players[kSpotifyPlayer].status = playing(QStringLiteral("Song"));
    start({});
    players.launch(kSpotifyPlayer);
    EXPECT_EQ(media.bookkeeping().runningPlayers, QSet<QString>{kSpotifyPlayer});
    EXPECT_TRUE(scripts.calls().isEmpty()) << "the observer itself does not poll";
    rt.time.advance(5);
    EXPECT_EQ(media.trackTitle(), QStringLiteral("Song"));

    players.terminate(kSpotifyPlayer);
    rt.time.advance(5);
    EXPECT_EQ(media.trackTitle(), QStringLiteral(""));
    EXPECT_EQ(media.activePlayer(), QStringLiteral(""));
}

TEST_F(MediaServiceTest, PublishedFieldsAreAnnouncedOnChange) {
    QStringList seen;
    QObject::connect(&media, &MediaRemoteService::trackTitleChanged,
                     [&](const QString& t) { seen << QStringLiteral("title:") + t; });
    QObject::connect(&media, &MediaRemoteService::isPlayingChanged,
                     [&](bool p) { seen << QStringLiteral("playing:%1").arg(p); });
    int changes = 0;
    QObject::connect(&media, &MediaRemoteService::changed, [&] { ++changes; });
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    start({kMusicPlayer});
    poll();  // the same reading again announces nothing
    EXPECT_EQ(seen, QStringList({QStringLiteral("title:Song"), QStringLiteral("playing:1")}));
    EXPECT_GE(changes, 2);
}

// ---- commands ----

struct CommandCase {
    MediaCommand command;
    bool playingBefore;
    bool playingAfter;
    const char* call;
};

TEST_F(MediaServiceTest, CommandsChangeThePlayStateAtOnceAndSendTheirScript) {
    const CommandCase cases[] = {
        {MediaCommand::toggle, true, false, "Spotify:toggle"},  {MediaCommand::toggle, false, true, "Spotify:toggle"},
        {MediaCommand::next, false, true, "Spotify:next"},      {MediaCommand::previous, false, true, "Spotify:previous"},
        {MediaCommand::play, false, true, "Spotify:play"},      {MediaCommand::pause, true, false, "Spotify:pause"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        scripts.clearCalls();
        media.setActivePlayer(kSpotifyPlayer);
        media.setIsPlaying(c.playingBefore);
        ASSERT_TRUE(media.sendCommand(c.command));
        EXPECT_EQ(media.isPlaying(), c.playingAfter);
        EXPECT_TRUE(scripts.calls().isEmpty()) << "the script runs on the background queue";
        rt.time.runUntilIdle();
        EXPECT_EQ(scripts.calls(), QStringList{QString::fromUtf8(c.call)});
        rt.time.advance(1);
    }
}

TEST_F(MediaServiceTest, ASuccessfulCommandRefreshesAfterTheThreeDelays) {
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    start({kMusicPlayer});
    media.setAutomationWarning(QStringLiteral("stale"));
    ASSERT_TRUE(media.isPlaying());
    ASSERT_TRUE(media.sendCommand(MediaCommand::toggle));
    EXPECT_FALSE(media.isPlaying());
    rt.time.runUntilIdle();
    EXPECT_EQ(media.automationWarning(), std::nullopt);
    scripts.players[kMusicPlayer].status = QStringLiteral("paused||Song||Artist||Album");
    const int before = scripts.count(QStringLiteral("Music:status"));
    const std::pair<double, int> steps[] = {{0.11, 0}, {0.01, 1}, {0.32, 1}, {0.01, 2}, {0.44, 2}, {0.01, 3}};
    for (auto [advance, polls] : steps) {
        rt.time.advance(advance);
        EXPECT_EQ(scripts.count(QStringLiteral("Music:status")) - before, polls);
    }
    EXPECT_FALSE(media.isPlaying());
}

TEST_F(MediaServiceTest, AFailedCommandWarnsAndDoesNotRefresh) {
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    scripts.players[kMusicPlayer].commandsSucceed = false;
    start({kMusicPlayer});
    ASSERT_TRUE(media.sendCommand(MediaCommand::next));
    rt.time.runUntilIdle();
    EXPECT_EQ(media.automationWarning(), warningFor(QStringLiteral("Music")));
    const int before = scripts.count(QStringLiteral("Music:status"));
    rt.time.advance(1);
    EXPECT_EQ(scripts.count(QStringLiteral("Music:status")), before);
}

TEST_F(MediaServiceTest, TargetPlayerPrefersTheActivePlayerThenMusicThenSpotify) {
    start({kSpotifyPlayer});
    EXPECT_EQ(media.bookkeeping().targetPlayer, kSpotifyPlayer);
    players.launch(kMusicPlayer);
    EXPECT_EQ(media.bookkeeping().targetPlayer, kMusicPlayer);
    media.setActivePlayer(kSpotifyPlayer);
    EXPECT_EQ(media.bookkeeping().targetPlayer, kSpotifyPlayer);
    media.setActivePlayer(QString());
    players.terminate(kMusicPlayer);
    players.terminate(kSpotifyPlayer);
    EXPECT_EQ(media.bookkeeping().targetPlayer, QString());
}

// ---- around a recording ----

TEST_F(MediaServiceTest, ARecordingPausesAPlayingPlayerAndResumesItAfterwards) {
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    start({kMusicPlayer});
    scripts.clearCalls();
    media.pauseForRecording();
    EXPECT_FALSE(media.isPlaying());
    EXPECT_TRUE(media.bookkeeping().wasPlayingBeforeRecording);
    rt.time.runUntilIdle();
    EXPECT_EQ(scripts.calls(), QStringList{QStringLiteral("Music:pause")});

    media.resumeAfterRecording();
    EXPECT_FALSE(media.bookkeeping().wasPlayingBeforeRecording);
    EXPECT_EQ(media.bookkeeping().playerBeforeRecording, QString());
    rt.time.runUntilIdle();
    EXPECT_EQ(scripts.calls(), QStringList({QStringLiteral("Music:pause"), QStringLiteral("Music:play")}));
    rt.time.advance(1);
    EXPECT_EQ(scripts.count(QStringLiteral("Music:status")), 6) << "the pause and the resume each refresh three times";
}

TEST_F(MediaServiceTest, ARecordingWhileNothingPlaysSendsNothing) {
    scripts.players[kMusicPlayer].status = QStringLiteral("paused||Song||Artist||Album");
    start({kMusicPlayer});
    scripts.clearCalls();
    media.pauseForRecording();
    media.resumeAfterRecording();
    rt.time.runUntilIdle();
    EXPECT_TRUE(scripts.calls().isEmpty());
    // Resuming twice after one pause sends the play only once.
    media.setIsPlaying(true);
    media.pauseForRecording();
    media.resumeAfterRecording();
    media.resumeAfterRecording();
    rt.time.runUntilIdle();
    EXPECT_EQ(scripts.count(QStringLiteral("Music:play")), 1);
}

TEST_F(MediaServiceTest, AFailedResumeWarns) {
    scripts.players[kSpotifyPlayer].status = playing(QStringLiteral("Song"));
    start({kSpotifyPlayer});
    media.pauseForRecording();
    rt.time.runUntilIdle();
    scripts.players[kSpotifyPlayer].commandsSucceed = false;
    media.resumeAfterRecording();
    rt.time.runUntilIdle();
    EXPECT_EQ(media.automationWarning(), warningFor(QStringLiteral("Spotify")));
}

// ---- artwork ----

TEST_F(MediaServiceTest, MusicArtworkIsFetchedOncePerTrackAndGivesTheAccentColour) {
    auto& music = scripts.players[kMusicPlayer];
    music.status = playing(QStringLiteral("Song"));
    music.artworkCount = QStringLiteral("1");
    music.artworkData = FakeImageDecoder::encode(2, 2, 255, 0, 51);
    start({kMusicPlayer});
    ASSERT_TRUE(media.artwork());
    EXPECT_EQ(*media.artwork(), FakeImageDecoder::solid(2, 2, 255, 0, 51));
    EXPECT_EQ(media.artworkAccentColor(), (AccentColor{1.0, 0.0, 0.2, 1.0}));
    EXPECT_EQ(media.bookkeeping().artworkVersion, key(kMusicPlayer, QStringLiteral("Song")) + QStringLiteral("||1"));

    int artworkChanges = 0;
    QObject::connect(&media, &MediaRemoteService::artworkChanged, [&] { ++artworkChanges; });
    poll();
    poll();
    EXPECT_EQ(scripts.count(QStringLiteral("Music:data")), 1);
    EXPECT_EQ(artworkChanges, 0);
    EXPECT_TRUE(http.requests().isEmpty()) << "no search for a track with artwork";

    // Another track asks for its bytes again.
    music.status = playing(QStringLiteral("Next song"));
    music.artworkData = FakeImageDecoder::encode(1, 1, 0, 0, 0);
    poll();
    EXPECT_EQ(scripts.count(QStringLiteral("Music:data")), 2);
    EXPECT_EQ(media.artworkAccentColor(), (AccentColor{0, 0, 0, 1}));
}

TEST_F(MediaServiceTest, ATrackWithoutArtworkIsSearchedOnceAndAFailedKeyNeverAgain) {
    auto& music = scripts.players[kMusicPlayer];
    music.status = playing(QStringLiteral("Song"));
    music.artworkCount = QStringLiteral("0");
    start({kMusicPlayer});  // the search finds nothing: no answer
    EXPECT_EQ(http.requests(), QStringList{searchUrl(QStringLiteral("Song"))});
    EXPECT_EQ(media.bookkeeping().failedArtworkKeys, QSet<QString>{key(kMusicPlayer, QStringLiteral("Song"))});
    EXPECT_FALSE(media.artwork());

    // The count changes, so publishing runs again, but the failed key is not searched.
    music.artworkCount = QStringLiteral("2");
    poll();
    poll();
    EXPECT_EQ(http.requests().size(), 1);
    EXPECT_EQ(scripts.count(QStringLiteral("Music:data")), 1) << "the bytes of a known track are not asked for again";
}

TEST_F(MediaServiceTest, ASearchedArtworkIsShownAndCachedForTheTrack) {
    auto& music = scripts.players[kMusicPlayer];
    music.status = playing(QStringLiteral("Song"));
    music.artworkCount = QStringLiteral("0");
    http.bodies[searchUrl(QStringLiteral("Song"))] = R"({"results":[
        {"collectionName":"Other","artworkUrl100":"https://img.test/other/100x100bb.jpg"},
        {"collectionName":"ALBUM","artworkUrl100":"https://img.test/a/100x100bb.jpg"}]})";
    http.bodies[QStringLiteral("https://img.test/a/600x600bb.jpg")] = FakeImageDecoder::encode(3, 3, 10, 20, 30);
    start({kMusicPlayer});
    ASSERT_TRUE(media.artwork());
    EXPECT_EQ(*media.artwork(), FakeImageDecoder::solid(3, 3, 10, 20, 30));
    EXPECT_EQ(media.bookkeeping().cachedArtworkData, FakeImageDecoder::encode(3, 3, 10, 20, 30));
    EXPECT_EQ(media.artworkAccentColor(), (AccentColor{10 / 255.0, 20 / 255.0, 30 / 255.0, 1}));
    EXPECT_TRUE(media.bookkeeping().failedArtworkKeys.isEmpty());

    // Later polls of the same track keep it and search no more.
    poll();
    EXPECT_TRUE(media.artwork());
    EXPECT_EQ(http.count(searchUrl(QStringLiteral("Song"))), 1);
}

TEST_F(MediaServiceTest, ASearchAnswerForAnOlderTrackIsDropped) {
    auto& music = scripts.players[kMusicPlayer];
    music.status = playing(QStringLiteral("First"));
    music.artworkCount = QStringLiteral("0");
    http.bodies[searchUrl(QStringLiteral("First"))] =
        R"({"results":[{"collectionName":"Album","artworkUrl100":"https://img.test/100x100bb"}]})";
    http.bodies[QStringLiteral("https://img.test/600x600bb")] = FakeImageDecoder::encode(1, 1, 9, 9, 9);
    // The player moves on once the first track has been read, and a poll asked for meanwhile
    // reads the new track while the search for the first one runs: its answer comes back after
    // the new reading has taken the cache.
    scripts.beforeAnswer = [&](const QString& call) {
        if (call == QStringLiteral("Music:data")) music.status = playing(QStringLiteral("Second"));
    };
    QList<std::optional<RgbaImage>> shown;
    QObject::connect(&media, &MediaRemoteService::artworkChanged, [&] { shown << media.artwork(); });
    players.running = {kMusicPlayer};
    media.startMonitoring();
    media.pollNowPlaying();
    rt.time.runUntilIdle();
    ASSERT_EQ(http.count(searchUrl(QStringLiteral("First"))), 1);
    EXPECT_EQ(media.trackTitle(), QStringLiteral("Second"));
    EXPECT_FALSE(media.artwork()) << "the first track's artwork must not show for the second";
    EXPECT_FALSE(shown.contains(FakeImageDecoder::solid(1, 1, 9, 9, 9))) << "not even for a moment";
    EXPECT_EQ(media.bookkeeping().pendingArtworkFetchKey, key(kMusicPlayer, QStringLiteral("Second")));
}

// A search answer for a key that is no longer pending: see MediaServiceThreads (only worker
// threads let a search outlast the readings that move the pending key on).
TEST_F(MediaServiceTest, ASearchAnswerForATrackNoLongerShownIsDropped) {
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    scripts.players[kMusicPlayer].artworkCount = QStringLiteral("0");
    http.bodies[searchUrl(QStringLiteral("Song"))] =
        R"({"results":[{"collectionName":"Album","artworkUrl100":"https://img.test/100x100bb"}]})";
    http.bodies[QStringLiteral("https://img.test/600x600bb")] = FakeImageDecoder::encode(1, 1, 1, 2, 3);
    // While the search runs, the player quits and the next poll clears the track.
    http.beforeAnswer = [&](const QString& address) {
        if (address != searchUrl(QStringLiteral("Song"))) return;
        rt.time.main().post([&] {
            players.terminate(kMusicPlayer);
            media.pollNowPlaying();
        });
    };
    start({kMusicPlayer});
    ASSERT_EQ(http.count(QStringLiteral("https://img.test/600x600bb")), 1);
    EXPECT_EQ(media.trackTitle(), QStringLiteral(""));
    EXPECT_EQ(media.bookkeeping().pendingArtworkFetchKey, key(kMusicPlayer, QStringLiteral("Song"))) << "still pending";
    EXPECT_FALSE(media.artwork()) << "the track is no longer the current one";
    EXPECT_EQ(media.bookkeeping().cachedArtworkData, std::nullopt);
}

TEST_F(MediaServiceTest, AnAccentColourComputedForTheLastTrackIsDropped) {
    auto& music = scripts.players[kMusicPlayer];
    music.status = playing(QStringLiteral("First"));
    music.artworkCount = QStringLiteral("1");
    music.artworkData = FakeImageDecoder::encode(1, 1, 255, 0, 0);
    // As the first track's artwork is shown, the player moves on and a poll starts: the second
    // track's reading is published before the first track's colour (computed on a worker) is back.
    bool moved = false;
    QObject::connect(&media, &MediaRemoteService::artworkChanged, [&] {
        if (moved || !media.artwork()) return;
        moved = true;
        music.status = playing(QStringLiteral("Second"));
        music.artworkCount = QStringLiteral("0");
        music.artworkData.reset();  // no artwork: no colour, a search instead
        media.pollNowPlaying();
    });
    start({kMusicPlayer});
    ASSERT_TRUE(moved);
    EXPECT_EQ(media.trackTitle(), QStringLiteral("Second"));
    EXPECT_FALSE(media.artworkAccentColor()) << "the first track's colour must not tint the second";
}

// The reading itself, as the service's pool runs it, while the main thread publishes another
// reading into the shared cache.
TEST_F(MediaServiceTest, AMusicReadingNeverTakesBytesCachedForAnotherTrack) {
    auto& music = scripts.players[kMusicPlayer];
    music.status = playing(QStringLiteral("Song"));
    music.artworkCount = QStringLiteral("1");
    music.artworkData = FakeImageDecoder::encode(1, 1, 1, 2, 3);
    PlayerReader reader{scripts, http, images, QUrl(QStringLiteral("https://search.test"))};
    reader.setRunningPlayers({kMusicPlayer, kSpotifyPlayer});
    std::optional<QByteArray> unused;
    // The cache holds another track's bytes when the reading starts...
    reader.keepOrReplace(key(kSpotifyPlayer, QStringLiteral("Other")), false, FakeImageDecoder::encode(1, 1, 4, 5, 6),
                         unused);
    // ...and this track's own bytes by the time the reading checks it.
    bool switched = false;
    scripts.beforeAnswer = [&](const QString& call) {
        if (call != QStringLiteral("Music:count") || switched) return;
        switched = true;
        reader.keepOrReplace(key(kMusicPlayer, QStringLiteral("Song")), false, FakeImageDecoder::encode(1, 1, 1, 2, 3),
                             unused);
    };
    const auto info = reader.read(kMusicPlayer);
    ASSERT_TRUE(switched);
    ASSERT_TRUE(info && info->artworkData);
    EXPECT_EQ(*info->artworkData, FakeImageDecoder::encode(1, 1, 1, 2, 3));
}

TEST_F(MediaServiceTest, SpotifyArtworkIsDownloadedOnEveryPoll) {
    auto& spotify = scripts.players[kSpotifyPlayer];
    spotify.status = playing(QStringLiteral("Song"));
    spotify.artworkUrl = QStringLiteral("https://art.test/one");
    http.bodies[QStringLiteral("https://art.test/one")] = FakeImageDecoder::encode(1, 1, 50, 60, 70);
    start({kSpotifyPlayer});
    ASSERT_TRUE(media.artwork());
    EXPECT_EQ(media.bookkeeping().artworkVersion,
              key(kSpotifyPlayer, QStringLiteral("Song")) + QStringLiteral("||https://art.test/one"));
    poll();
    poll();
    EXPECT_EQ(http.count(QStringLiteral("https://art.test/one")), 3);
    EXPECT_EQ(scripts.count(QStringLiteral("Spotify:data")), 0);

    // A new track without an address carries the cached bytes, i.e. the previous track's image.
    spotify.status = playing(QStringLiteral("Next"));
    spotify.artworkUrl = QStringLiteral("");
    poll();
    EXPECT_EQ(media.trackTitle(), QStringLiteral("Next"));
    ASSERT_TRUE(media.artwork());
    EXPECT_EQ(*media.artwork(), FakeImageDecoder::solid(1, 1, 50, 60, 70));
    EXPECT_TRUE(media.bookkeeping().pendingArtworkFetchKey != key(kSpotifyPlayer, QStringLiteral("Next")));

    // A failed download of a new track's address gives no artwork, and a search.
    spotify.status = playing(QStringLiteral("Third"));
    spotify.artworkUrl = QStringLiteral("https://art.test/missing");
    poll();
    EXPECT_FALSE(media.artwork());
    EXPECT_EQ(media.artworkAccentColor(), std::nullopt);
    EXPECT_EQ(http.count(searchUrl(QStringLiteral("Third"))), 1);
}

TEST_F(MediaServiceTest, BytesThatAreNoImageGiveNoArtworkAndASearch) {
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    scripts.players[kMusicPlayer].artworkCount = QStringLiteral("1");
    scripts.players[kMusicPlayer].artworkData = QByteArray("<html>not an image</html>");
    media.setArtworkAccentColor(AccentColor{1, 1, 1, 1});
    start({kMusicPlayer});
    EXPECT_FALSE(media.artwork());
    EXPECT_EQ(media.artworkAccentColor(), std::nullopt);
    EXPECT_EQ(http.count(searchUrl(QStringLiteral("Song"))), 1);
}

TEST_F(MediaServiceTest, ClearingEmptiesTheArtworkCacheButKeepsColourAndWarning) {
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    scripts.players[kMusicPlayer].artworkCount = QStringLiteral("1");
    scripts.players[kMusicPlayer].artworkData = FakeImageDecoder::encode(1, 1, 255, 255, 255);
    start({kMusicPlayer});
    media.setAutomationWarning(QStringLiteral("kept"));
    players.terminate(kMusicPlayer);
    media.pollNowPlaying();  // no player runs: the poll clears
    players.launch(kMusicPlayer);
    EXPECT_EQ(media.trackTitle(), QStringLiteral(""));
    EXPECT_FALSE(media.artwork());
    EXPECT_EQ(media.bookkeeping().lastArtworkTrackKey, std::nullopt);
    EXPECT_EQ(media.bookkeeping().cachedArtworkData, std::nullopt);
    EXPECT_EQ(media.bookkeeping().artworkVersion, QStringLiteral(""));
    EXPECT_EQ(media.artworkAccentColor(), (AccentColor{1, 1, 1, 1}));
    EXPECT_EQ(media.automationWarning(), QStringLiteral("kept"));
    // The same track is then new again: its bytes are asked for once more.
    poll();
    EXPECT_EQ(scripts.count(QStringLiteral("Music:data")), 2);
    EXPECT_TRUE(media.artwork());
}

TEST_F(MediaServiceTest, WorkQueuedBeforeTheServiceIsGoneDoesNothing) {
    auto service = std::make_unique<MediaRemoteService>(MediaRemoteService::Dependencies{
        rt.runtime(), scripts, players, http, images, QUrl(QStringLiteral("https://search.test"))});
    players.running = {kMusicPlayer};
    scripts.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    service->startMonitoring();
    service->setIsPlaying(true);
    service->sendCommand(MediaCommand::pause);
    service.reset();
    rt.time.advance(10);  // the poll, the command, its refresh and the timer find no service
    players.launch(kSpotifyPlayer);
    EXPECT_TRUE(scripts.calls().isEmpty()) << "work not started when the service went calls no player";
}

}  // namespace
