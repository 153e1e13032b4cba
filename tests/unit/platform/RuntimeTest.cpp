#include <gtest/gtest.h>

#include <future>

#include "RecordingLogger.h"
#include "VirtualTime.h"
#include "platform/Diagnostics.h"
#include "platform/NotificationCenter.h"
#include "platform/linux/ThreadQueues.h"

using namespace vocalynx;
using namespace vocalynx::test;

TEST(VirtualTimeTest, RunsDueWorkInTimeOrderAndHonoursCancel) {
    VirtualTime time;
    auto audio = time.makeSerialQueue("com.vocalynx.audiodata");
    QStringList order;
    time.main().postAfter(seconds(2), [&] { order << QStringLiteral("main@2"); });
    auto cancelled = time.main().postAfter(seconds(1), [&] { order << QStringLiteral("cancelled"); });
    audio->postAfter(seconds(1.5), [&] {
        order << QString::fromStdString("audio@1.5 on " + time.currentQueue());
        time.main().post([&] { order << QStringLiteral("main posted from audio"); });
    });
    time.main().post([&] { order << QStringLiteral("main@0"); });
    cancelled.cancel();
    time.advance(1.0);
    EXPECT_EQ(order, (QStringList{QStringLiteral("main@0")}));
    time.advance(5.0);
    EXPECT_EQ(order, (QStringList{QStringLiteral("main@0"), QStringLiteral("audio@1.5 on com.vocalynx.audiodata"),
                                  QStringLiteral("main posted from audio"), QStringLiteral("main@2")}));
    EXPECT_EQ(time.pending(), 0u);
}

TEST(VirtualTimeTest, ClockMovesToEachTaskAndSleepDoesNotRunWork) {
    VirtualTime time;
    const MonoTime start = time.now();
    double seenAt = -1;
    time.main().postAfter(seconds(0.8), [&] { seenAt = secondsBetween(start, time.now()); });
    time.sleepFor(seconds(0.5));
    EXPECT_LT(seenAt, 0);
    time.advance(1.0);
    EXPECT_NEAR(seenAt, 0.8, 1e-9);
    EXPECT_NEAR(secondsBetween(start, time.now()), 1.5, 1e-9);
}

TEST(NotificationCenterTest, SynchronousInOrderAndRemovable) {
    NotificationCenter center;
    QStringList seen;
    auto a = center.addObserver(QStringLiteral("n"), [&](const std::any& o) {
        seen << QStringLiteral("a") + QString::number(std::any_cast<int>(o));
    });
    center.addObserver(QStringLiteral("n"), [&](const std::any&) { seen << QStringLiteral("b"); });
    center.addObserver(QStringLiteral("other"), [&](const std::any&) { seen << QStringLiteral("other"); });
    center.post(QStringLiteral("n"), 1);
    center.removeObserver(a);
    center.post(QStringLiteral("n"), 2);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("a1"), QStringLiteral("b"), QStringLiteral("b")}));
}

TEST(NotificationCenterTest, ObserverMayRemoveItselfWhilePosting) {
    NotificationCenter center;
    int calls = 0;
    NotificationCenter::Token token = 0;
    token = center.addObserver(QStringLiteral("n"), [&](const std::any&) {
        ++calls;
        center.removeObserver(token);
    });
    center.post(QStringLiteral("n"));
    center.post(QStringLiteral("n"));
    EXPECT_EQ(calls, 1);
}

TEST(DiagnosticsTest, TimestampFormatAndUptimeFromFirstUse) {
    RecordingLogger log;
    Diagnostics diagnostics(log);
    const WallTime t0 = std::chrono::system_clock::time_point{} + std::chrono::milliseconds(1796800474123);
    EXPECT_EQ(diagnostics.timestamp(t0), QStringLiteral("ts=2026-12-09T07:14:34.123Z uptime=0.0s"));
    EXPECT_EQ(diagnostics.timestamp(t0 + std::chrono::milliseconds(12340)),
              QStringLiteral("ts=2026-12-09T07:14:46.463Z uptime=12.3s"));
    diagnostics.logState(QStringLiteral("state idle -> recording reason=startRecording"), t0);
    EXPECT_EQ(
        log.lines().last(),
        QStringLiteral("[Vocalynx][StateDiagnostics] ts=2026-12-09T07:14:34.123Z uptime=0.0s state idle -> recording "
                       "reason=startRecording"));
}

TEST(ThreadQueuesTest, SerialQueueRunsInOrderOnItsOwnThread) {
    ThreadQueueFactory factory;
    auto queue = factory.makeSerialQueue("com.vocalynx.test");
    std::vector<int> order;  // touched only on the queue
    std::promise<std::vector<int>> done;
    for (int i = 0; i < 100; ++i) queue->post([&order, i] { order.push_back(i); });
    queue->post([&] {
        EXPECT_TRUE(queue->isCurrent());
        done.set_value(order);
    });
    const auto result = done.get_future().get();
    ASSERT_EQ(result.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(result[static_cast<size_t>(i)], i);
    EXPECT_FALSE(queue->isCurrent());
}

TEST(ThreadQueuesTest, CancelledDelayedWorkNeverRunsAndOthersDo) {
    ThreadQueueFactory factory;
    auto queue = factory.makeSerialQueue("com.vocalynx.test");
    std::atomic<int> ran{0};
    std::promise<void> release;
    std::promise<void> done;
    // Hold the queue, so that the cancel surely comes before the work could start.
    queue->post([f = release.get_future().share()] { f.wait(); });
    auto handle = queue->postAfter(seconds(0), [&] { ran += 100; });
    queue->postAfter(seconds(0.01), [&] {
        ran += 1;
        factory.global().post([&] { done.set_value(); });
    });
    handle.cancel();
    release.set_value();
    done.get_future().get();
    EXPECT_EQ(ran.load(), 1);
}
