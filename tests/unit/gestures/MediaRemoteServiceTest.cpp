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

PlayerTrack playing(const QString& title, const QString& artist = QStringLiteral("Artist"),
                    const QString& album = QStringLiteral("Album")) {
    return PlayerTrack{true, title, artist, album};
}

PlayerTrack paused(const QString& title) {
    return PlayerTrack{false, title, QStringLiteral("Artist"), QStringLiteral("Album")};
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
    FakeMusicPlayers musicPlayers;
    FakeRunningPlayers players;
    FakeHttpClient http;
    FakeImageDecoder images;
    MediaRemoteService media{
        {rt.runtime(), musicPlayers, players, http, images, QUrl(QStringLiteral("https://search.test"))}};
};

// ---- readings ----

struct ReplyCase {
    const char* name;
    std::optional<PlayerTrack> reply;
    bool read;
    QString title, artist, album;
    bool isPlaying;
};

TEST_F(MediaServiceTest, StatusRepliesAreReadOrRejected) {
    const ReplyCase cases[] = {
        {"playing", PlayerTrack{true, QStringLiteral("Song"), QStringLiteral("Singer"), QStringLiteral("Record")}, true,
         QStringLiteral("Song"), QStringLiteral("Singer"), QStringLiteral("Record"), true},
        {"paused", PlayerTrack{false, QStringLiteral("Song"), QStringLiteral("Singer"), QStringLiteral("Record")}, true,
         QStringLiteral("Song"), QStringLiteral("Singer"), QStringLiteral("Record"), false},
        {"empty artist and album are kept", PlayerTrack{true, QStringLiteral("Song"), QString(), QString()}, true,
         QStringLiteral("Song"), QStringLiteral(""), QStringLiteral(""), true},
        {"texts with the old separator in them are kept whole",
         PlayerTrack{true, QStringLiteral("A||B"), QStringLiteral("C||"), QStringLiteral("||D")}, true,
         QStringLiteral("A||B"), QStringLiteral("C||"), QStringLiteral("||D"), true},
        {"long texts are cut", PlayerTrack{true, QString(1500, u't'), QString(1001, u'a'), QString(1000, u'l')}, true,
         QString(1000, u't'), QString(1000, u'a'), QString(1000, u'l'), true},
        {"a cut never splits a surrogate pair",
         PlayerTrack{true, QString(999, u't') + QStringLiteral("\U0001F3B5"), QString(), QString()}, true,
         QString(999, u't'), QStringLiteral(""), QStringLiteral(""), true},
        {"empty title", PlayerTrack{true, QString(), QStringLiteral("Singer"), QStringLiteral("Record")}, false,
         QStringLiteral(""), QStringLiteral(""), QStringLiteral(""), false},
        {"stopped or unreadable", std::nullopt, false, QStringLiteral(""), QStringLiteral(""), QStringLiteral(""),
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestRuntime localRt;
        FakeMusicPlayers localMusicPlayers;
        FakeRunningPlayers localPlayers;
        localPlayers.running = {kMusicPlayer};
        localMusicPlayers.players[kMusicPlayer].status = c.reply;
        MediaRemoteService service{
            {localRt.runtime(), localMusicPlayers, localPlayers, http, images, QUrl(QStringLiteral("https://search.test"))}};
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
    }
}

TEST_F(MediaServiceTest, MusicIsReadFirstAndSpotifyOnlyWhenMusicGivesNothing) {
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("From Music"));
    musicPlayers.players[kSpotifyPlayer].status = playing(QStringLiteral("From Spotify"));
    start({kMusicPlayer, kSpotifyPlayer});
    EXPECT_EQ(media.activePlayer(), kMusicPlayer);
    EXPECT_EQ(media.trackTitle(), QStringLiteral("From Music"));
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Spotify:status")), 0);

    // A Music reply without a title gives no reading: the poll goes on to Spotify.
    musicPlayers.players[kMusicPlayer].status = playing(QString());
    poll();
    EXPECT_EQ(media.activePlayer(), kSpotifyPlayer);
    EXPECT_EQ(media.trackTitle(), QStringLiteral("From Spotify"));
}

TEST_F(MediaServiceTest, PollsAskedForWhileAReadingIsOutRunOnceAfterIt) {
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("First"));
    start({kMusicPlayer});
    musicPlayers.clearCalls();
    // The timer, refresh polls and commands may ask again and again while a slow reading is out.
    for (int i = 0; i < 5; ++i) media.pollNowPlaying();
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("Second"));
    rt.time.runUntilIdle();
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:status")), 2) << "the reading out, then one more";
    EXPECT_EQ(media.trackTitle(), QStringLiteral("Second"));
    poll();
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:status")), 3) << "once back, a poll reads at once";
}

TEST_F(MediaServiceTest, APlayerThatDoesNotRunIsNeverAsked) {
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    musicPlayers.players[kSpotifyPlayer].status = playing(QStringLiteral("Other"));
    start({kSpotifyPlayer});
    EXPECT_EQ(media.activePlayer(), kSpotifyPlayer);
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:status")), 0);
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
    EXPECT_TRUE(musicPlayers.calls().isEmpty());
}

TEST_F(MediaServiceTest, AStoppedPlayerClearsTheTrackAndWarnsOnTheNextPoll) {
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    start({kMusicPlayer});
    ASSERT_EQ(media.trackTitle(), QStringLiteral("Song"));

    musicPlayers.players[kMusicPlayer].status = std::nullopt;  // stopped
    poll();
    EXPECT_EQ(media.trackTitle(), QStringLiteral(""));
    EXPECT_EQ(media.automationWarning(), std::nullopt) << "a title was still shown";
    poll();
    EXPECT_EQ(media.automationWarning(), warningFor(QStringLiteral("Music")));

    // A reading again removes the warning.
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    poll();
    EXPECT_EQ(media.automationWarning(), std::nullopt);
}

// ---- monitoring ----

TEST_F(MediaServiceTest, PollsEveryFiveSecondsAndASecondStartAddsNothing) {
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    start({kMusicPlayer});
    media.startMonitoring();
    rt.time.runUntilIdle();
    EXPECT_EQ(players.launchHandlers.size(), 1u);
    EXPECT_EQ(players.terminationHandlers.size(), 1u);
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:status")), 1);
    rt.time.advance(4.9);
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:status")), 1);
    rt.time.advance(0.1);
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:status")), 2);
    rt.time.advance(10);
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:status")), 4);
}

TEST_F(MediaServiceTest, LaunchesAndTerminationsChangeThePlayerSetForTheNextPoll) {
    musicPlayers.players[kSpotifyPlayer].status = playing(QStringLiteral("Song"));
    start({});
    players.launch(kSpotifyPlayer);
    EXPECT_EQ(media.bookkeeping().runningPlayers, QSet<QString>{kSpotifyPlayer});
    EXPECT_TRUE(musicPlayers.calls().isEmpty()) << "the observer itself does not poll";
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
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
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

TEST_F(MediaServiceTest, CommandsChangeThePlayStateAtOnceAndSendTheirCall) {
    const CommandCase cases[] = {
        {MediaCommand::toggle, true, false, "Spotify:toggle"},  {MediaCommand::toggle, false, true, "Spotify:toggle"},
        {MediaCommand::next, false, true, "Spotify:next"},      {MediaCommand::previous, false, true, "Spotify:previous"},
        {MediaCommand::play, false, true, "Spotify:play"},      {MediaCommand::pause, true, false, "Spotify:pause"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        musicPlayers.clearCalls();
        media.setActivePlayer(kSpotifyPlayer);
        media.setIsPlaying(c.playingBefore);
        ASSERT_TRUE(media.sendCommand(c.command));
        EXPECT_EQ(media.isPlaying(), c.playingAfter);
        EXPECT_TRUE(musicPlayers.calls().isEmpty()) << "the command goes out on the background queue";
        rt.time.runUntilIdle();
        EXPECT_EQ(musicPlayers.calls(), QStringList{QString::fromUtf8(c.call)});
        rt.time.advance(1);
    }
}

TEST_F(MediaServiceTest, ASuccessfulCommandRefreshesAfterTheThreeDelays) {
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    start({kMusicPlayer});
    media.setAutomationWarning(QStringLiteral("stale"));
    ASSERT_TRUE(media.isPlaying());
    ASSERT_TRUE(media.sendCommand(MediaCommand::toggle));
    EXPECT_FALSE(media.isPlaying());
    rt.time.runUntilIdle();
    EXPECT_EQ(media.automationWarning(), std::nullopt);
    musicPlayers.players[kMusicPlayer].status = paused(QStringLiteral("Song"));
    const int before = musicPlayers.count(QStringLiteral("Music:status"));
    const std::pair<double, int> steps[] = {{0.11, 0}, {0.01, 1}, {0.32, 1}, {0.01, 2}, {0.44, 2}, {0.01, 3}};
    for (auto [advance, polls] : steps) {
        rt.time.advance(advance);
        EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:status")) - before, polls);
    }
    EXPECT_FALSE(media.isPlaying());
}

TEST_F(MediaServiceTest, AFailedCommandWarnsAndDoesNotRefresh) {
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    musicPlayers.players[kMusicPlayer].commandsSucceed = false;
    start({kMusicPlayer});
    ASSERT_TRUE(media.sendCommand(MediaCommand::next));
    rt.time.runUntilIdle();
    EXPECT_EQ(media.automationWarning(), warningFor(QStringLiteral("Music")));
    const int before = musicPlayers.count(QStringLiteral("Music:status"));
    rt.time.advance(1);
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:status")), before);
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
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    start({kMusicPlayer});
    musicPlayers.clearCalls();
    media.pauseForRecording();
    EXPECT_FALSE(media.isPlaying());
    EXPECT_TRUE(media.bookkeeping().wasPlayingBeforeRecording);
    rt.time.runUntilIdle();
    EXPECT_EQ(musicPlayers.calls(), QStringList{QStringLiteral("Music:pause")});

    media.resumeAfterRecording();
    EXPECT_FALSE(media.bookkeeping().wasPlayingBeforeRecording);
    EXPECT_EQ(media.bookkeeping().playerBeforeRecording, QString());
    rt.time.runUntilIdle();
    EXPECT_EQ(musicPlayers.calls(), QStringList({QStringLiteral("Music:pause"), QStringLiteral("Music:play")}));
    rt.time.advance(1);
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:status")), 6) << "the pause and the resume each refresh three times";
}

TEST_F(MediaServiceTest, ARecordingWhileNothingPlaysSendsNothing) {
    musicPlayers.players[kMusicPlayer].status = paused(QStringLiteral("Song"));
    start({kMusicPlayer});
    musicPlayers.clearCalls();
    media.pauseForRecording();
    media.resumeAfterRecording();
    rt.time.runUntilIdle();
    EXPECT_TRUE(musicPlayers.calls().isEmpty());
    // Resuming twice after one pause sends the play only once.
    media.setIsPlaying(true);
    media.pauseForRecording();
    media.resumeAfterRecording();
    media.resumeAfterRecording();
    rt.time.runUntilIdle();
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:play")), 1);
}

TEST_F(MediaServiceTest, AFailedResumeWarns) {
    musicPlayers.players[kSpotifyPlayer].status = playing(QStringLiteral("Song"));
    start({kSpotifyPlayer});
    media.pauseForRecording();
    rt.time.runUntilIdle();
    musicPlayers.players[kSpotifyPlayer].commandsSucceed = false;
    media.resumeAfterRecording();
    rt.time.runUntilIdle();
    EXPECT_EQ(media.automationWarning(), warningFor(QStringLiteral("Spotify")));
}

// ---- artwork ----

TEST_F(MediaServiceTest, MusicArtworkIsFetchedOncePerTrackAndGivesTheAccentColour) {
    auto& music = musicPlayers.players[kMusicPlayer];
    music.status = playing(QStringLiteral("Song"));
    music.artworkUrl = QStringLiteral("file:///cover.png");
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
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:data")), 1);
    EXPECT_EQ(artworkChanges, 0);
    EXPECT_TRUE(http.requests().isEmpty()) << "no search for a track with artwork";

    // Another track asks for its bytes again.
    music.status = playing(QStringLiteral("Next song"));
    music.artworkData = FakeImageDecoder::encode(1, 1, 0, 0, 0);
    poll();
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:data")), 2);
    EXPECT_EQ(media.artworkAccentColor(), (AccentColor{0, 0, 0, 1}));
}

TEST_F(MediaServiceTest, ATrackWithoutArtworkIsSearchedOnceAndAFailedKeyNeverAgain) {
    auto& music = musicPlayers.players[kMusicPlayer];
    music.status = playing(QStringLiteral("Song"));
    music.artworkUrl = QStringLiteral("");
    start({kMusicPlayer});  // the search finds nothing: no answer
    EXPECT_EQ(http.requests(), QStringList{searchUrl(QStringLiteral("Song"))});
    EXPECT_EQ(media.bookkeeping().failedArtworkKeys, QSet<QString>{key(kMusicPlayer, QStringLiteral("Song"))});
    EXPECT_FALSE(media.artwork());

    // The artwork appears, so publishing runs again, but the failed key is not searched.
    music.artworkUrl = QStringLiteral("file:///other-cover.png");
    poll();
    poll();
    EXPECT_EQ(http.requests().size(), 1);
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:data")), 1) << "the bytes of a known track are not asked for again";
}

TEST_F(MediaServiceTest, ASearchWhoseDownloadIsBusyIsNoMissAndRunsAgainAtTheNextReading) {
    auto& music = musicPlayers.players[kMusicPlayer];
    music.artworkUrl = QStringLiteral("");
    const QString image = QStringLiteral("https://img.test/600x600bb");
    http.bodies[image] = FakeImageDecoder::encode(1, 1, 7, 8, 9);
    const struct {
        const char* name;
        QString title;
        bool searchBusy;  // else the image download is busy
    } cases[] = {{"the search answer", QStringLiteral("First"), true}, {"the image", QStringLiteral("Second"), false}};
    media.startMonitoring();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        http.bodies[searchUrl(c.title)] =
            R"({"results":[{"collectionName":"Album","artworkUrl100":"https://img.test/100x100bb"}]})";
        http.busy = {c.searchBusy ? searchUrl(c.title) : image};
        music.status = playing(c.title);
        players.launch(kMusicPlayer);
        poll();
        EXPECT_EQ(http.count(searchUrl(c.title)), 1);
        EXPECT_TRUE(media.bookkeeping().failedArtworkKeys.isEmpty());
        EXPECT_FALSE(media.artwork());
        http.busy.clear();
        poll();
        EXPECT_EQ(http.count(searchUrl(c.title)), 2);
        ASSERT_TRUE(media.artwork());
        EXPECT_EQ(*media.artwork(), FakeImageDecoder::solid(1, 1, 7, 8, 9));
        players.terminate(kMusicPlayer);
        poll();  // no player runs: the track and its artwork are cleared
    }
}

TEST_F(MediaServiceTest, TheTracksRememberedWithoutArtworkAreBounded) {
    auto& music = musicPlayers.players[kMusicPlayer];
    music.artworkUrl = QStringLiteral("");
    players.running = {kMusicPlayer};
    media.startMonitoring();
    for (int i = 0; i < MediaRemoteService::maxFailedArtworkKeys + 10; ++i) {
        music.status = playing(QStringLiteral("Track %1").arg(i));
        poll();
        ASSERT_LE(media.bookkeeping().failedArtworkKeys.size(), MediaRemoteService::maxFailedArtworkKeys);
    }
    EXPECT_FALSE(media.bookkeeping().failedArtworkKeys.isEmpty());
}

TEST_F(MediaServiceTest, ASearchedArtworkIsShownAndCachedForTheTrack) {
    auto& music = musicPlayers.players[kMusicPlayer];
    music.status = playing(QStringLiteral("Song"));
    music.artworkUrl = QStringLiteral("");
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
    auto& music = musicPlayers.players[kMusicPlayer];
    music.status = playing(QStringLiteral("First"));
    music.artworkUrl = QStringLiteral("");
    http.bodies[searchUrl(QStringLiteral("First"))] =
        R"({"results":[{"collectionName":"Album","artworkUrl100":"https://img.test/100x100bb"}]})";
    http.bodies[QStringLiteral("https://img.test/600x600bb")] = FakeImageDecoder::encode(1, 1, 9, 9, 9);
    // The player moves on once the first track has been read, and a poll asked for meanwhile
    // reads the new track while the search for the first one runs: its answer comes back after
    // the new reading has taken the cache.
    musicPlayers.beforeAnswer = [&](const QString& call) {
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
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    musicPlayers.players[kMusicPlayer].artworkUrl = QStringLiteral("");
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
    auto& music = musicPlayers.players[kMusicPlayer];
    music.status = playing(QStringLiteral("First"));
    music.artworkUrl = QStringLiteral("file:///cover.png");
    music.artworkData = FakeImageDecoder::encode(1, 1, 255, 0, 0);
    // As the first track's artwork is shown, the player moves on and a poll starts: the second
    // track's reading is published before the first track's colour (computed on a worker) is back.
    bool moved = false;
    QObject::connect(&media, &MediaRemoteService::artworkChanged, [&] {
        if (moved || !media.artwork()) return;
        moved = true;
        music.status = playing(QStringLiteral("Second"));
        music.artworkUrl = QStringLiteral("");
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
    auto& music = musicPlayers.players[kMusicPlayer];
    music.status = playing(QStringLiteral("Song"));
    music.artworkUrl = QStringLiteral("file:///cover.png");
    music.artworkData = FakeImageDecoder::encode(1, 1, 1, 2, 3);
    PlayerReader reader{musicPlayers, http, images, QUrl(QStringLiteral("https://search.test"))};
    reader.setRunningPlayers({kMusicPlayer, kSpotifyPlayer});
    std::optional<QByteArray> unused;
    // The cache holds another track's bytes when the reading starts...
    reader.keepOrReplace(key(kSpotifyPlayer, QStringLiteral("Other")), false, FakeImageDecoder::encode(1, 1, 4, 5, 6),
                         unused);
    // ...and this track's own bytes by the time the reading checks it.
    bool switched = false;
    musicPlayers.beforeAnswer = [&](const QString& call) {
        if (call != QStringLiteral("Music:url") || switched) return;
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
    auto& spotify = musicPlayers.players[kSpotifyPlayer];
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
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Spotify:data")), 0);

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
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    musicPlayers.players[kMusicPlayer].artworkUrl = QStringLiteral("file:///cover.png");
    musicPlayers.players[kMusicPlayer].artworkData = QByteArray("<html>not an image</html>");
    media.setArtworkAccentColor(AccentColor{1, 1, 1, 1});
    start({kMusicPlayer});
    EXPECT_FALSE(media.artwork());
    EXPECT_EQ(media.artworkAccentColor(), std::nullopt);
    EXPECT_EQ(http.count(searchUrl(QStringLiteral("Song"))), 1);
}

TEST_F(MediaServiceTest, ClearingEmptiesTheArtworkCacheButKeepsColourAndWarning) {
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    musicPlayers.players[kMusicPlayer].artworkUrl = QStringLiteral("file:///cover.png");
    musicPlayers.players[kMusicPlayer].artworkData = FakeImageDecoder::encode(1, 1, 255, 255, 255);
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
    EXPECT_EQ(musicPlayers.count(QStringLiteral("Music:data")), 2);
    EXPECT_TRUE(media.artwork());
}

TEST_F(MediaServiceTest, WorkQueuedBeforeTheServiceIsGoneDoesNothing) {
    auto service = std::make_unique<MediaRemoteService>(MediaRemoteService::Dependencies{
        rt.runtime(), musicPlayers, players, http, images, QUrl(QStringLiteral("https://search.test"))});
    players.running = {kMusicPlayer};
    musicPlayers.players[kMusicPlayer].status = playing(QStringLiteral("Song"));
    service->startMonitoring();
    service->setIsPlaying(true);
    service->sendCommand(MediaCommand::pause);
    service.reset();
    rt.time.advance(10);  // the poll, the command, its refresh and the timer find no service
    players.launch(kSpotifyPlayer);
    EXPECT_TRUE(musicPlayers.calls().isEmpty()) << "work not started when the service went calls no player";
}

}  // namespace
