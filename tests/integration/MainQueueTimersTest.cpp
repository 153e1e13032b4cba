// The main queue's timers on the real Qt event loop: precise and coarse delayed work and the
// every-step tasks run on the main thread, whichever thread posted them, and a cancelled task
// never runs.

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

// Every-step tasks share one timer: each runs on the main thread once a step, whichever thread
// subscribed it; a cancelled one stops while the others go on, one that cancels itself while it
// runs is not run again, and one subscribed from inside a step starts with a later step.
TEST(MainQueueSteps, EveryStepTasksRunOnTheMainThreadUntilCancelled) {
    guiApplication();
    QtMainQueue main;
    std::atomic<int> first{0}, second{0}, fromWorker{0}, selfCancelling{0}, nested{0};
    std::atomic<bool> onMainThread{true}, nestedInItsOwnStep{false};
    auto counting = [&](std::atomic<int>& n) {
        return [&] {
            if (QThread::currentThread() != qApp->thread()) onMainThread = false;
            ++n;
        };
    };
    TaskHandle a = main.postEveryCoarseStep(counting(first));
    TaskHandle b = main.postEveryCoarseStep(counting(second));
    TaskHandle c;
    std::thread worker([&] { c = main.postEveryCoarseStep(counting(fromWorker)); });
    worker.join();
    TaskHandle self;
    self = main.postEveryCoarseStep([&] {
        ++selfCancelling;
        self.cancel();
    });
    TaskHandle inner;
    TaskHandle outer = main.postEveryCoarseStep([&] {
        if (inner) return;
        const int stepsSoFar = second.load();
        inner = main.postEveryCoarseStep([&, stepsSoFar] {
            if (second.load() <= stepsSoFar) nestedInItsOwnStep = true;
            ++nested;
        });
    });

    ASSERT_TRUE(processEventsUntil([&] { return first >= 3 && fromWorker >= 3 && nested >= 2; }));
    a.cancel();
    const int firstAtCancel = first.load();
    const int secondAtCancel = second.load();
    ASSERT_TRUE(processEventsUntil([&] { return second >= secondAtCancel + 3; }));
    EXPECT_EQ(first.load(), firstAtCancel);
    EXPECT_FALSE(nestedInItsOwnStep.load());
    EXPECT_EQ(selfCancelling.load(), 1);
    EXPECT_TRUE(onMainThread.load());
    for (const TaskHandle* h : {&b, &c, &outer, &inner}) h->cancel();
}

INSTANTIATE_TEST_SUITE_P(Timings, MainQueueTimersTest, ::testing::Values(Timing::precise, Timing::coarse),
                         [](const auto& param) { return param.param == Timing::coarse ? "coarse" : "precise"; });

}  // namespace
}  // namespace vocalynx::test
