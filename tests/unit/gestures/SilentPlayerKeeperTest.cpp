#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QtEndian>

#include "FakeAudioPlayback.h"
#include "FakeRemoteCommands.h"
#include "TestRuntime.h"
#include "gestures/SilentPlayerKeeper.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

class SilentPlayerKeeperTest : public ::testing::Test {
protected:
    SilentPlayerKeeperTest() {
        QDir().mkpath(rt.paths().temp);
        start = rt.time.now();
    }
    double elapsed() const { return secondsBetween(start, rt.time.now()); }
    // The player the keeper made at start, running with the heartbeat.
    std::shared_ptr<FakeAudioPlayer> startPlaying() {
        keeper.makeSilentPlayer();
        keeper.startHeartbeat();
        rt.time.runUntilIdle();
        return audio.last();
    }

    TestRuntime rt;
    FakeRemoteCommands nowPlaying;
    FakeAudioPlayback audio;
    SilentPlayerKeeper keeper{{rt, nowPlaying, audio}};
    MonoTime start;
};

}  // namespace

TEST_F(SilentPlayerKeeperTest, WritesTheOneSecondClipOnceAndStartsASilentEndlessPlayer) {
    const QString path = QDir(rt.paths().temp).filePath(QStringLiteral("vocalynx_silence.wav"));
    keeper.makeSilentPlayer();
    rt.time.runUntilIdle();  // the clip's work, then the player's start
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Silent AVAudioPlayer running: true")));
    ASSERT_EQ(audio.openedPaths, std::vector<QString>{path});
    auto player = audio.last();
    ASSERT_TRUE(player);
    EXPECT_EQ(player->loops, -1);
    EXPECT_EQ(player->volume, 0.0f);
    EXPECT_EQ(keeper.audioPlayer(), player);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray wav = file.readAll();
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(wav.constData() + at); };
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(wav.constData() + at); };
    ASSERT_EQ(wav.left(4), "RIFF");
    EXPECT_EQ(u32(4), quint32(wav.size() - 8));
    EXPECT_EQ(wav.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(u16(20), 3) << "IEEE float samples";
    EXPECT_EQ(u16(22), 1) << "one channel";
    EXPECT_EQ(u32(24), 44100u);
    EXPECT_EQ(u16(34), 32);
    const int data = int(wav.indexOf("data"));
    ASSERT_GT(data, 0);
    EXPECT_EQ(u32(data + 4), 44100u * 4) << "44 100 frames of 4 bytes";
    EXPECT_EQ(wav.mid(data + 8), QByteArray(44100 * 4, '\0'));

    EXPECT_EQ(QFile(path).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner)
        << "readable and writable by this user alone";

    // Made again: the clip is left as it is, and anything else at its place is replaced by it.
    // (A rewrite renames a new file into place: another inode.)
    const auto inode = [&] {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_ino;
    };
    const auto written = inode();
    keeper.makeSilentPlayer();
    rt.time.runUntilIdle();
    EXPECT_EQ(inode(), written);
    ASSERT_TRUE(QFile(path).open(QIODevice::WriteOnly));  // truncated
    keeper.makeSilentPlayer();
    rt.time.runUntilIdle();
    EXPECT_EQ(QFile(path).size(), wav.size());
}

TEST_F(SilentPlayerKeeperTest, TheFirstPlayerFailsQuietlyWithItsReason) {
    struct Case {
        const char* name;
        bool tempMissing;
        bool openFails;
        bool startsPlaying;
        const char* line;
        bool playerStored;
    };
    const Case cases[] = {
        {"temporary folder missing", true, false, true, "[Vocalynx] Failed to create silent file: ", false},
        {"player cannot open the clip", false, true, true, "[Vocalynx] Failed to start silent player: no sound today", false},
        {"player opens but does not play", false, false, false, "[Vocalynx] Silent AVAudioPlayer running: false", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestRuntime local;
        if (!c.tempMissing) QDir().mkpath(local.paths().temp);
        FakeAudioPlayback localAudio;
        localAudio.openFails = c.openFails;
        localAudio.openError = QStringLiteral("no sound today");
        localAudio.playersStartPlaying = c.startsPlaying;
        SilentPlayerKeeper k{{local, nowPlaying, localAudio}};
        k.makeSilentPlayer();
        local.time.runUntilIdle();
        EXPECT_EQ(local.log.countPart(QString::fromUtf8(c.line)), 1) << local.log.lines().join(u'\n').toStdString();
        EXPECT_EQ(local.log.lines().size(), 1);
        EXPECT_EQ(k.audioPlayer() != nullptr, c.playerStored);
        if (c.tempMissing) { EXPECT_TRUE(localAudio.openedPaths.empty()); }
    }
}

TEST_F(SilentPlayerKeeperTest, ATickWhileTheRefreshIsQueuedOnlyCounts) {
    auto player = startPlaying();
    nowPlaying.published.clear();
    keeper.heartbeatTick();      // queues a refresh
    player->playing = false;     // a rebuild check would now start a rebuild
    keeper.heartbeatTick();      // the refresh has not run yet
    EXPECT_EQ(keeper.heartbeatCount(), 3);
    EXPECT_EQ(keeper.rebuildCount(), 0) << "no rebuild check in a busy tick";
    EXPECT_TRUE(keeper.nowPlayingBusy());
    rt.time.runUntilIdle();
    EXPECT_EQ(nowPlaying.publishedSoFar(),
              (QStringList{QStringLiteral("paused"), QStringLiteral("info"), QStringLiteral("playing")}))
        << "one refresh only";
    EXPECT_FALSE(keeper.nowPlayingBusy());
}

TEST_F(SilentPlayerKeeperTest, TheRefreshRunsOnTheNowPlayingQueue) {
    std::string queue;
    struct Probe final : NowPlayingCenter {
        explicit Probe(VirtualTime& t, std::string& q) : time(t), queue(q) {}
        void setNowPlayingInfo(const NowPlayingInfo&) override {}
        void setPlaybackState(NowPlayingPlaybackState state) override {
            if (state == NowPlayingPlaybackState::paused) queue = time.currentQueue();
        }
        VirtualTime& time;
        std::string& queue;
    } probe(rt.time, queue);
    SilentPlayerKeeper k{{rt, probe, audio}};
    k.heartbeatTick();
    rt.time.runUntilIdle();
    EXPECT_EQ(queue, "com.vocalynx.nowplaying");
}

// The centre is handed to the keeper for its lifetime only: a refresh still queued when the keeper
// goes must not publish to it (it may be gone too).
TEST_F(SilentPlayerKeeperTest, ARefreshQueuedWhenTheKeeperGoesPublishesNothing) {
    FakeRemoteCommands center;
    auto k = std::make_unique<SilentPlayerKeeper>(SilentPlayerKeeper::Dependencies{rt, center, audio});
    k->heartbeatTick();  // queues a refresh
    k.reset();
    rt.time.runUntilIdle();
    EXPECT_TRUE(center.publishedSoFar().isEmpty());
}

TEST_F(SilentPlayerKeeperTest, AStoppedPlayerIsRebuiltByTheHeartbeatAtMostEveryFiveSeconds) {
    auto first = startPlaying();
    rt.log.clear();
    first->playing = false;
    rt.time.advance(1.15);  // the next tick rebuilds; the confirmation follows 0.1 s later
    auto second = audio.last();
    ASSERT_NE(second, first);
    EXPECT_EQ(keeper.audioPlayer(), second);
    EXPECT_EQ(rt.log.lines(), QStringList{QStringLiteral("[Vocalynx] Silent player confirmed playing on attempt 0")});
    EXPECT_TRUE(keeper.heartbeatRunning());

    // It stops again at once: the ticks within 5 s of that rebuild leave it alone.
    second->playing = false;
    const size_t opened = audio.openedPaths.size();
    rt.time.advance(3.8);
    EXPECT_EQ(audio.openedPaths.size(), opened);
    rt.time.advance(1.3);
    EXPECT_EQ(audio.openedPaths.size(), opened + 1);
    EXPECT_EQ(rt.log.count(QStringLiteral("[Vocalynx] Silent player confirmed playing on attempt 0")), 2);
}

TEST_F(SilentPlayerKeeperTest, FailedSeriesRetryEveryHalfSecondThenBackOffUpToAMinute) {
    struct Case {
        const char* name;
        bool openFails;       // else the players open but never play
        double attemptSpacing;
        QString failureLine;  // for attempt %1
    };
    const Case cases[] = {
        {"player cannot be opened", true, 0.5, QStringLiteral("[Vocalynx] Rebuild attempt %1 error: gone")},
        {"player does not play", false, 0.6,
         QStringLiteral("[Vocalynx] Silent player not actually playing on attempt %1, retrying...")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestRuntime local;
        QDir().mkpath(local.paths().temp);
        FakeAudioPlayback a;
        a.openFails = c.openFails;
        a.openError = QStringLiteral("gone");
        a.playersStartPlaying = false;
        SilentPlayerKeeper k{{local, nowPlaying, a}};
        const MonoTime t0 = local.time.now();
        auto now = [&] { return secondsBetween(t0, local.time.now()); };
        k.rebuildSilentPlayer(0);
        k.startHeartbeat();  // runs throughout: it must start no rebuild of its own

        double seriesStart = 0;
        const double expectedDelays[] = {5, 10, 20, 40, 60, 60};
        for (int round = 1; round <= 6; ++round) {
            SCOPED_TRACE(round);
            // Attempts 0..15, each failing, one retry spacing apart.
            for (int attempt = 0; attempt <= 15; ++attempt) {
                const double due = seriesStart + attempt * c.attemptSpacing + (c.openFails ? 0 : 0.1) + 1e-6;
                local.time.advance(due - now());
                EXPECT_TRUE(local.log.contains(c.failureLine.arg(attempt))) << attempt;
                local.log.clear();
            }
            const double delay = expectedDelays[round - 1];
            EXPECT_EQ(k.backoffRound(), round);
            local.time.advance(delay - 1e-3);
            EXPECT_FALSE(local.log.containsPart("Retrying silent player rebuild from scratch"));
            const int rebuildsDuringWait = int(k.rebuildCount());
            local.time.advance(2e-3);
            EXPECT_TRUE(local.log.contains(
                QStringLiteral("[Vocalynx] Retrying silent player rebuild from scratch (backoff round %1)").arg(round)));
            EXPECT_EQ(k.rebuildCount(), rebuildsDuringWait + 1);
            EXPECT_EQ(k.rebuildCount(), round * 16 + 1) << "no heartbeat rebuild during the series or the wait";
            seriesStart = now() - 1e-3;
        }
    }
}

TEST_F(SilentPlayerKeeperTest, TheBackOffLineNamesAttemptRoundAndDelay) {
    audio.openFails = true;
    audio.openError = QStringLiteral("gone");
    keeper.rebuildSilentPlayer(0);
    rt.time.advance(7.5);
    EXPECT_TRUE(rt.log.contains(
        QStringLiteral("[Vocalynx] Failed to rebuild silent player after 15 attempts, backoff round 1, retry in 5s")));
    rt.time.advance(5 + 7.5);
    EXPECT_TRUE(rt.log.contains(
        QStringLiteral("[Vocalynx] Failed to rebuild silent player after 15 attempts, backoff round 2, retry in 10s")));

    // A confirmed player ends the back-off; the heartbeat may rebuild again.
    audio.openFails = false;
    rt.time.advance(10.1);
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Silent player confirmed playing on attempt 0")));
    EXPECT_EQ(keeper.backoffRound(), 0);
}

TEST_F(SilentPlayerKeeperTest, ASuspendDuringASeriesStopsThePendingPlayerAndEndsTheSeries) {
    audio.playersStartPlaying = false;
    keeper.rebuildSilentPlayer(0);
    rt.time.advance(0.6);  // attempt 0 failed its confirmation; attempt 1 is due at 0.6
    auto pending = audio.last();
    ASSERT_TRUE(pending);
    audio.playersStartPlaying = true;
    pending->playing = true;  // would be confirmed at 0.7
    const size_t opened = audio.openedPaths.size();
    keeper.suspendSilentPlayer();
    rt.time.advance(600);
    EXPECT_EQ(pending->stops, 1);
    EXPECT_EQ(keeper.audioPlayer(), nullptr);
    EXPECT_EQ(audio.openedPaths.size(), opened) << "no further attempt";
    EXPECT_FALSE(rt.log.containsPart("confirmed playing"));
    EXPECT_FALSE(keeper.heartbeatRunning());
}

TEST_F(SilentPlayerKeeperTest, ASuspendDuringTheBackOffDropsTheRetry) {
    audio.openFails = true;
    keeper.rebuildSilentPlayer(0);
    rt.time.advance(8);  // series over, back-off of 5 s running
    keeper.suspendSilentPlayer();
    const size_t opened = audio.openedPaths.size();
    rt.time.advance(600);
    EXPECT_EQ(audio.openedPaths.size(), opened);
    EXPECT_FALSE(rt.log.containsPart("Retrying silent player rebuild from scratch"));
}

TEST_F(SilentPlayerKeeperTest, SuspendStopsEverythingAndResumeStartsTwoRebuildsAfterFiveSeconds) {
    auto first = startPlaying();
    rt.time.advance(10);
    keeper.suspendSilentPlayer();
    EXPECT_EQ(keeper.silentPlayerGeneration(), 1);
    EXPECT_TRUE(keeper.silentPlayerSuspended());
    EXPECT_EQ(first->stops, 1);
    EXPECT_EQ(keeper.audioPlayer(), nullptr);
    EXPECT_FALSE(keeper.heartbeatRunning());
    const int64_t ticks = keeper.heartbeatCount();
    rt.time.advance(6);  // a recording of 6 s
    EXPECT_EQ(keeper.heartbeatCount(), ticks);

    rt.log.clear();
    const size_t opened = audio.openedPaths.size();
    keeper.resumeSilentPlayer();
    rt.time.runUntilIdle();
    EXPECT_TRUE(keeper.heartbeatRunning());
    EXPECT_EQ(audio.openedPaths.size(), opened + 2) << "one from the immediate tick, one from resume";
    std::weak_ptr<FakeAudioPlayer> fromTick = audio.players[opened];
    auto fromResume = audio.players[opened + 1].lock();
    rt.time.advance(0.1);
    EXPECT_EQ(rt.log.count(QStringLiteral("[Vocalynx] Silent player confirmed playing on attempt 0")), 2);
    EXPECT_EQ(keeper.audioPlayer(), fromResume);
    EXPECT_TRUE(fromTick.expired()) << "the earlier player is released, not left running";
}

TEST_F(SilentPlayerKeeperTest, AResumeSoonAfterTheLastRebuildStartsOneRebuild) {
    startPlaying();
    keeper.rebuildSilentPlayer(0);
    rt.time.advance(0.2);
    keeper.suspendSilentPlayer();
    rt.time.advance(2);
    const size_t opened = audio.openedPaths.size();
    keeper.resumeSilentPlayer();
    rt.time.runUntilIdle();
    EXPECT_EQ(audio.openedPaths.size(), opened + 1);
}

TEST_F(SilentPlayerKeeperTest, WithoutAnOutputDeviceTheRebuildWaitsForOne) {
    struct Case {
        const char* name;
        int appearsAtPoll;  // 0: never
    };
    const Case cases[] = {{"device at the first poll", 1}, {"device at the last poll", 100}, {"no device at all", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestRuntime local;
        QDir().mkpath(local.paths().temp);
        FakeAudioPlayback a;
        a.outputDevice = false;
        SilentPlayerKeeper k{{local, nowPlaying, a}};
        k.rebuildSilentPlayer(0);
        k.startHeartbeat();  // runs throughout: it must not start waits of its own
        EXPECT_TRUE(local.log.contains(
            QStringLiteral("[Vocalynx] No audio output device available, deferring silent player rebuild")));
        EXPECT_TRUE(k.waitingForOutputDevice());
        for (int poll = 1; poll <= (c.appearsAtPoll ? c.appearsAtPoll : 99); ++poll) {
            if (poll == c.appearsAtPoll) a.outputDevice = true;
            local.time.advance(3.0);
        }
        if (c.appearsAtPoll) {
            EXPECT_TRUE(local.log.contains(
                QStringLiteral("[Vocalynx] Audio output device detected, rebuilding silent player")));
            EXPECT_EQ(a.openedPaths.size(), 1u) << "the rebuild starts at attempt 0";
            EXPECT_EQ(a.deviceQueries, c.appearsAtPoll + 2) << "one query per poll, plus the two rebuilds";
            local.time.advance(0.1);
            EXPECT_TRUE(local.log.contains(QStringLiteral("[Vocalynx] Silent player confirmed playing on attempt 0")));
            EXPECT_FALSE(k.waitingForOutputDevice());
            continue;
        }
        EXPECT_EQ(a.deviceQueries, 100) << "one rebuild and 99 polls, no second wait alongside";
        EXPECT_EQ(k.rebuildCount(), 1);
        local.log.clear();
        local.time.advance(3.0);  // the 100th poll
        EXPECT_TRUE(
            local.log.contains(QStringLiteral("[Vocalynx] Gave up waiting for audio output device after 5 minutes")));
        // From here the heartbeat's rebuild check is the way back: a rebuild that starts a wait of
        // its own, one wait at a time.
        local.time.advance(5);
        EXPECT_EQ(local.log.count(
                      QStringLiteral("[Vocalynx] No audio output device available, deferring silent player rebuild")),
                  1);
        local.time.advance(60);
        EXPECT_EQ(local.log.count(
                      QStringLiteral("[Vocalynx] No audio output device available, deferring silent player rebuild")),
                  1);
        a.outputDevice = true;
        local.time.advance(3.1);
        EXPECT_TRUE(local.log.contains(QStringLiteral("[Vocalynx] Silent player confirmed playing on attempt 0")));
    }
}

TEST_F(SilentPlayerKeeperTest, ABackOffThatFindsNoDeviceWaitsForOne) {
    audio.openFails = true;
    keeper.rebuildSilentPlayer(0);
    rt.time.advance(7.6);
    audio.outputDevice = false;
    rt.time.advance(5);
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Still no audio output device, deferring rebuild")));
    EXPECT_TRUE(keeper.waitingForOutputDevice());
    audio.outputDevice = true;
    audio.openFails = false;
    rt.time.advance(3.1);
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Audio output device detected, rebuilding silent player")));
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Silent player confirmed playing on attempt 0")));
    EXPECT_EQ(keeper.backoffRound(), 0);
}

TEST_F(SilentPlayerKeeperTest, AResumeWithoutADeviceWaitsOnce) {
    startPlaying();
    keeper.suspendSilentPlayer();
    audio.outputDevice = false;
    rt.time.advance(6);
    rt.log.clear();
    keeper.resumeSilentPlayer();
    EXPECT_EQ(
        rt.log.count(QStringLiteral("[Vocalynx] No audio output device available, deferring silent player rebuild")), 2)
        << "the immediate tick and resume both try";
    audio.deviceQueries = 0;
    rt.time.advance(30);
    EXPECT_EQ(audio.deviceQueries, 10) << "a later wait replaces the earlier one";
}
