// The main queue's timers on the real Qt event loop: precise and coarse delayed work runs on the
// main thread, whichever thread posted it, and a cancelled task never runs.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <thread>

#include "LiveRuntime.h"
#include "platform/linux/QtMainQueue.h"

namespace vocalynx::test {
namespace {

enum class Timing { precise, coarse };

void PrintTo(Timing timing, std::ostream* os) { *os << (timing == Timing::coarse ? "coarse" : "precise"); }

TaskHandle postAfterWith(QtMainQueue& main, Timing timing, Duration delay, Task task) {
    return timing == Timing::coarse ? main.postAfterCoarse(delay, std::move(task))
                                    : main.postAfter(delay, std::move(task));
}

class MainQueueTimersTest : public ::testing::TestWithParam<Timing> {
protected:
    void SetUp() override { guiApplication(); }
};

TEST_P(MainQueueTimersTest, RunsOnTheMainThreadFromAnyThreadAndHonoursCancel) {
    QtMainQueue main;
    std::atomic<int> ran{0};
    std::atomic<bool> onMainThread{true};
    auto work = [&] {
        if (QThread::currentThread() != qApp->thread()) onMainThread = false;
        ++ran;
    };
    postAfterWith(main, GetParam(), Duration(0.03), work);
    postAfterWith(main, GetParam(), Duration(0.03), [&] { ran += 100; }).cancel();
    TaskHandle fromWorker;
    std::thread worker([&] {
        postAfterWith(main, GetParam(), Duration(0.03), work);
        fromWorker = postAfterWith(main, GetParam(), Duration(0.03), [&] { ran += 100; });
        fromWorker.cancel();
    });
    worker.join();

    ASSERT_TRUE(processEventsUntil([&] { return ran.load() >= 2; }));
    // Give a wrongly uncancelled task the time to show up.
    bool late = false;
    postAfterWith(main, Timing::precise, Duration(0.2), [&] { late = true; });
    ASSERT_TRUE(processEventsUntil([&] { return late; }));
    EXPECT_EQ(ran.load(), 2);
    EXPECT_TRUE(onMainThread.load());
}

INSTANTIATE_TEST_SUITE_P(Timings, MainQueueTimersTest, ::testing::Values(Timing::precise, Timing::coarse),
                         [](const auto& param) { return param.param == Timing::coarse ? "coarse" : "precise"; });

}  // namespace
}  // namespace vocalynx::test
