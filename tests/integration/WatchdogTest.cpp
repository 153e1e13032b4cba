// The watchdog against a really blocked main thread: the real watchdog queue pings the Qt main
// loop of this test program while the test holds that loop.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <thread>

#include "LiveRuntime.h"
#include "core/MainThreadWatchdog.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// The engine as the watchdog sees it: the test sets the state, recoveries are recorded and bring
// the engine back to idle as the real one does.
class StuckEngine final : public DictationControl {
public:
    RecordingState state() const override {
        ++stateReads;
        return current.load();
    }
    void startRecording(Completion) override {}
    void stopRecording() override {}
    void handleStopShortcut() override {}
    void recoverFromStalledState(RecordingState stalled, const QString& reason) override {
        recoveries.push_back(recordingStateName(stalled) + QStringLiteral(" ") + reason);
        current.store(RecordingState::idle);
    }
    std::atomic<RecordingState> current{RecordingState::idle};
    mutable std::atomic<int> stateReads{0};
    QStringList recoveries;  // main thread only
};

// Short pings, so that the tests spend little real time waiting; the program's are 5 s each.
constexpr MainThreadWatchdog::Timing kTiming{.pingInterval = 0.5, .hangThreshold = 1.0};

// Holds the main thread, as a stuck task would, until the watchdog has logged the line (at most
// 30 s).
void holdMainThreadUntil(const RecordingLogger& log, const char* part) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!log.containsPart(part)) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "never logged: " << part;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

QStringList watchdogLines(const RecordingLogger& log) {
    return log.lines().filter(QStringLiteral("[Vocalynx][Watchdog] "));
}

struct WatchdogFixture {
    StuckEngine engine;
    LiveRuntime rt;
    MainThreadWatchdog watchdog{rt, engine, kTiming};
};

}  // namespace

TEST(MainThreadWatchdog, OneShortStallIsLoggedAndRecoveredFromWithoutForcing) {
    WatchdogFixture f;
    f.watchdog.start();
    f.watchdog.start();  // a second start adds no second ping chain (that would log two hangs)
    // The first ping finds the main thread held; once that is logged the thread is free again.
    holdMainThreadUntil(f.rt.log, "consecutive=1");
    ASSERT_TRUE(
        processEventsUntil([&] { return f.rt.log.containsPart("Main thread recovered"); }, 30000))
        << f.rt.log.lines().join(u'\n').toStdString();

    const QStringList lines = watchdogLines(f.rt.log);
    ASSERT_EQ(lines.size(), 3) << lines.join(u'\n').toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("[Vocalynx][Watchdog] Started (interval=0.5s threshold=1.0s)"));
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\[Vocalynx\\]\\[Watchdog\\] HANG DETECTED main thread blocked ≥1\\.\\ds "
                                          "consecutive=1 engineState=idle$"))
            .match(lines[1])
            .hasMatch())
        << lines[1].toStdString();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\[Vocalynx\\]\\[Watchdog\\] Main thread recovered after 1 hang\\(s\\), "
                                          "latency=\\d+\\.\\d{3}s$"))
            .match(lines[2])
            .hasMatch())
        << lines[2].toStdString();
    EXPECT_TRUE(f.engine.recoveries.isEmpty());
}

TEST(MainThreadWatchdog, LongStallWhileTranscribingQueuesForcedRecoveries) {
    WatchdogFixture f;
    f.engine.current = RecordingState::transcribing;
    f.watchdog.start();
    // Four unanswered pings, the last two each queueing a forced recovery; then the main thread is
    // free again.
    holdMainThreadUntil(f.rt.log, "Persistent hang (4x)");
    ASSERT_TRUE(
        processEventsUntil([&] { return f.rt.log.containsPart("Main thread recovered"); }, 30000))
        << f.rt.log.lines().join(u'\n').toStdString();

    QStringList lines = watchdogLines(f.rt.log);
    ASSERT_EQ(lines.size(), 11) << lines.join(u'\n').toStdString();
    for (int hang : {1, 2, 3, 4}) {
        const QString line = lines[hang + (hang == 4 ? 1 : 0)];
        EXPECT_TRUE(line.startsWith(QStringLiteral("[Vocalynx][Watchdog] HANG DETECTED main thread blocked ≥1.")))
            << line.toStdString();
        EXPECT_TRUE(line.endsWith(QStringLiteral(" consecutive=%1 engineState=transcribing").arg(hang)))
            << line.toStdString();
    }
    EXPECT_EQ(lines[4], QStringLiteral("[Vocalynx][Watchdog] Persistent hang (3x), forcing engine recovery"));
    EXPECT_EQ(lines[6], QStringLiteral("[Vocalynx][Watchdog] Persistent hang (4x), forcing engine recovery"));
    // The queued recoveries run in turn once the main thread is free: the first finds the stalled
    // state and recovers it, the second finds the engine idle.
    EXPECT_EQ(lines[7],
              QStringLiteral("[Vocalynx][Watchdog] Main thread resumed after hang, engineState=transcribing"));
    EXPECT_EQ(lines[8], QStringLiteral("[Vocalynx][Watchdog] Triggering stale state recovery"));
    EXPECT_EQ(lines[9], QStringLiteral("[Vocalynx][Watchdog] Main thread resumed after hang, engineState=idle"));
    EXPECT_TRUE(
        lines[10].startsWith(QStringLiteral("[Vocalynx][Watchdog] Main thread recovered after 4 hang(s), latency=")))
        << lines[10].toStdString();
    EXPECT_EQ(f.engine.recoveries, QStringList{QStringLiteral("transcribing watchdog-hang-transcribing")});
}

// The watchdog goes while a ping waits for the blocked main thread: when that wait runs out, the
// ping must neither read the engine nor write to the log, which may be gone by then.
TEST(MainThreadWatchdog, APingThatOutlivesItsWatchdogTouchesNothing) {
    StuckEngine engine;
    LiveRuntime rt;
    auto watchdog =
        std::make_unique<MainThreadWatchdog>(rt, engine, MainThreadWatchdog::Timing{.pingInterval = 0.5, .hangThreshold = 3.0});
    watchdog->start();
    // The main thread is held from the start to 5 s; the first ping starts at 0.5 s, unanswered, and
    // the watchdog goes at 1.5 s, while that ping waits until 3.5 s.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    watchdog.reset();
    const QStringList linesAtEnd = watchdogLines(rt.log);
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    processEventsUntil([] { return false; }, 200);  // the ping's late answer runs
    EXPECT_EQ(linesAtEnd, QStringList{QStringLiteral("[Vocalynx][Watchdog] Started (interval=0.5s threshold=3.0s)")});
    EXPECT_EQ(watchdogLines(rt.log).join(u'\n').toStdString(), linesAtEnd.join(u'\n').toStdString())
        << "no line after the watchdog is gone";
    EXPECT_EQ(engine.stateReads.load(), 0);
}
