// The silent player's clip work (the check that the clip is ours, its rewrite, the player's read of
// it) on a real worker thread, with the main queue on the virtual clock run by the test thread: the
// main thread never does it, stays free while it is out, and a suspend, a rebuild or the keeper's end
// that comes meanwhile neither races it nor lets its player play.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "TestRuntime.h"
#include "gestures/SilentPlayerKeeper.h"
#include "platform/linux/ThreadQueues.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

struct Tally {
    std::atomic<int> made{0};
    std::atomic<int> played{0};
    std::atomic<int> alive{0};
};

// Counts itself in the tally; used on the main thread only.
class CountedPlayer final : public AudioPlayer {
public:
    explicit CountedPlayer(Tally& tally) : tally_(tally) {
        ++tally_.made;
        ++tally_.alive;
    }
    ~CountedPlayer() override { --tally_.alive; }
    void setNumberOfLoops(int) override {}
    void setVolume(float) override {}
    bool play() override {
        ++tally_.played;
        playing_ = true;
        return true;
    }
    void stop() override { playing_ = false; }
    bool isPlaying() const override { return playing_; }

private:
    Tally& tally_;
    bool playing_ = false;
};

// Opens players that count themselves. An open off the test thread waits until the test lets it
// go; each open records its thread and the clip's size as the open found it.
class HeldPlayback final : public AudioPlayback {
public:
    explicit HeldPlayback(Tally& tally) : tally_(tally) {}
    std::shared_ptr<AudioPlayer> openPlayer(const QString& path, QString*) override {
        std::unique_lock lock(mutex_);
        opens_.push_back({std::this_thread::get_id(), QFileInfo(path).size()});
        changed_.notify_all();
        if (std::this_thread::get_id() != testThread_)
            changed_.wait_for(lock, std::chrono::seconds(10), [this] { return released_; });
        return std::make_shared<CountedPlayer>(tally_);
    }
    bool hasOutputDevice() const override { return true; }

    struct Open {
        std::thread::id thread;
        qint64 clipSize;
    };
    // Waits (at most 10 s) until `count` opens have begun.
    bool waitForOpens(size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return opens_.size() >= count; });
    }
    std::vector<Open> opens() const {
        std::lock_guard lock(mutex_);
        return opens_;
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    Tally& tally_;
    const std::thread::id testThread_ = std::this_thread::get_id();
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Open> opens_;
    bool released_ = false;
};

struct QuietCenter final : NowPlayingCenter {
    void setNowPlayingInfo(const NowPlayingInfo&) override {}
    void setPlaybackState(NowPlayingPlaybackState) override {}
};

// A keeper over real worker threads, with the main queue on the virtual clock. Torn down keeper
// first, then the worker threads (joined), then the fakes they use.
struct Rig {
    Rig() { QDir().mkpath(rt.paths().temp); }
    ~Rig() { end(); }
    void end() {
        keeper.reset();
        pool.reset();
        rt.time.runUntilIdle();
    }
    // Runs the main queue, 50 ms of virtual time a round, until the condition holds (at most 10 s
    // of real time).
    bool runMainUntil(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            rt.time.advance(0.05);
            if (condition()) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::yield();
        }
    }
    QString clipPath() const { return keeper ? keeper->silentClipPath() : QString(); }

    TestRuntime rt;
    Tally tally;
    HeldPlayback audio{tally};
    QuietCenter center;
    std::unique_ptr<ThreadQueueFactory> pool = std::make_unique<ThreadQueueFactory>();
    Runtime runtime{rt.time, rt.time.main(), *pool, rt.notifications, rt.log, rt.runtime().diagnostics,
                    rt.runtime().info, rt.runtime().paths};
    std::unique_ptr<SilentPlayerKeeper> keeper =
        std::make_unique<SilentPlayerKeeper>(SilentPlayerKeeper::Dependencies{runtime, center, audio});
};

const QString kRunning = QStringLiteral("[Vocalynx] Silent AVAudioPlayer running: true");
const QString kConfirmed = QStringLiteral("[Vocalynx] Silent player confirmed playing on attempt 0");

}  // namespace

// A clip that is not ours is written again and opened on the worker; meanwhile the main queue runs
// its heartbeat (which starts no second player), and the player plays once the work is back.
TEST(SilentClipThreads, TheClipIsCheckedWrittenAndOpenedOffTheMainThreadWhileTheMainQueueRuns) {
    Rig rig;
    {
        QFile planted(rig.clipPath());
        ASSERT_TRUE(planted.open(QIODevice::WriteOnly));
        planted.write("not our clip");
    }
    rig.keeper->makeSilentPlayer();
    rig.keeper->startHeartbeat();
    ASSERT_TRUE(rig.audio.waitForOpens(1));
    const auto opens = rig.audio.opens();
    EXPECT_NE(opens[0].thread, std::this_thread::get_id()) << "the player was opened on the main thread";
    EXPECT_EQ(opens[0].clipSize, SilentPlayerKeeper::silentClipWav().size()) << "the clip is ours before it is opened";

    // Held on the worker: the main queue goes on.
    rig.rt.time.advance(3.0);
    EXPECT_GE(rig.keeper->heartbeatCount(), 3);
    EXPECT_EQ(rig.audio.opens().size(), 1u) << "no rebuild while the start's clip work is out";
    EXPECT_FALSE(rig.rt.log.containsPart("Silent"));

    rig.audio.release();
    ASSERT_TRUE(rig.runMainUntil([&] { return rig.rt.log.contains(kRunning); }));
    ASSERT_TRUE(rig.keeper->audioPlayer());
    EXPECT_TRUE(rig.keeper->audioPlayer()->isPlaying());
    EXPECT_EQ(rig.tally.played.load(), 1);
}

TEST(SilentClipThreads, WhatComesWhileTheClipWorkIsOutLeavesOnePlayerOrNone) {
    enum class Work { start, rebuild };
    enum class Then { suspend, rebuild, keeperEnds };
    struct Case {
        const char* name;
        Work work;
        Then then;
        int playedAtEnd;  // players playing once everything is back: the keeper's own or none
        int everPlayed;
        QStringList lines;
    };
    const Case cases[] = {
        {"a suspend during the start", Work::start, Then::suspend, 0, 0, {}},
        {"a suspend during a rebuild", Work::rebuild, Then::suspend, 0, 0, {}},
        {"a rebuild during the start", Work::start, Then::rebuild, 1, 2, {kRunning, kConfirmed}},
        {"a rebuild during a rebuild", Work::rebuild, Then::rebuild, 1, 2, {kConfirmed, kConfirmed}},
        {"the keeper ends during the start", Work::start, Then::keeperEnds, 0, 0, {}},
        {"the keeper ends during a rebuild", Work::rebuild, Then::keeperEnds, 0, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        if (c.work == Work::start) rig.keeper->makeSilentPlayer();
        else rig.keeper->rebuildSilentPlayer(0);
        ASSERT_TRUE(rig.audio.waitForOpens(1));

        switch (c.then) {
        case Then::suspend:
            rig.keeper->suspendSilentPlayer();
            break;
        case Then::rebuild:
            rig.keeper->rebuildSilentPlayer(0);
            break;
        case Then::keeperEnds:
            // Let the work go just as the keeper ends, so that the two meet on the two threads.
            rig.audio.release();
            rig.keeper.reset();
            break;
        }
        rig.audio.release();
        const size_t opens = c.then == Then::rebuild ? 2 : 1;
        if (rig.keeper) {
            ASSERT_TRUE(rig.runMainUntil([&] {
                return rig.audio.opens().size() == opens && rig.tally.made.load() == int(opens) &&
                       rig.tally.alive.load() == c.playedAtEnd;
            })) << rig.tally.alive.load() << " players left";
            EXPECT_EQ(rig.keeper->audioPlayer() && rig.keeper->audioPlayer()->isPlaying(), c.playedAtEnd == 1);
        }
        rig.end();
        EXPECT_EQ(rig.tally.played.load(), c.everPlayed);
        EXPECT_EQ(rig.tally.alive.load(), 0);
        EXPECT_EQ(rig.rt.log.lines(), c.lines) << rig.rt.log.lines().join(u'\n').toStdString();
    }
}
