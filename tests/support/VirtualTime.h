#pragma once
// A virtual clock and queues for tests: nothing runs until the test advances time, and then
// every due task runs on the test thread in due-time order (ties in posting order).

#include <QString>
#include <map>
#include <thread>
#include <mutex>
#include <vector>

#include "platform/Clock.h"
#include "platform/Executor.h"

namespace vocalynx::test {

class VirtualTime;

class VirtualExecutor : public SerialQueue {
public:
    VirtualExecutor(VirtualTime& time, std::string label) : time_(time), label_(std::move(label)) {}
    void post(Task task) override;
    TaskHandle postAfter(Duration delay, Task task) override;
    bool isCurrent() const override;
    std::string label() const override { return label_; }

private:
    VirtualTime& time_;
    std::string label_;
};

class VirtualMainQueue final : public MainQueue {
public:
    explicit VirtualMainQueue(VirtualTime& time);
    void post(Task task) override;
    TaskHandle postAfter(Duration delay, Task task) override;
    // The main queue's task is running, or no task runs and the caller is the test thread.
    bool isCurrent() const override;

private:
    VirtualTime& time_;
    std::thread::id testThread_;
};

class VirtualTime final : public Clock, public QueueFactory {
public:
    VirtualTime();

    MonoTime now() const override;
    WallTime wallNow() const override;
    // Moves the clock without running anything (what a blocking sleep looks like from outside).
    void sleepFor(Duration d) override;

    std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) override;
    Executor& global() override { return global_; }
    // On the virtual clock a pool of its own is one more queue run by the test thread.
    std::shared_ptr<Executor> makeWorkerPool(const std::string& label, unsigned threads) override;

    MainQueue& main() { return main_; }

    // Runs everything due up to now + d, moving the clock to each task's due time, then to now + d.
    void advance(Duration d);
    void advance(double secondsValue) { advance(Duration(secondsValue)); }
    // Runs everything due now, including work that it posts without delay.
    void runUntilIdle() { advance(Duration(0)); }
    // Number of tasks waiting (cancelled ones included until their time comes).
    size_t pending() const;
    // Seconds from now until the next waiting task, or a negative value when there is none.
    double nextDueIn() const;
    // The label of the queue that is running the current task ("main" for the main queue).
    std::string currentQueue() const;
    // True while a task of the main queue runs, or when no task runs at all (the test thread
    // itself counts as the main thread).
    bool onMain() const;

private:
    friend class VirtualExecutor;
    friend class VirtualMainQueue;
    void schedule(const Executor* target, Duration delay, Task task);
    struct Item {
        const Executor* target;
        Task task;
    };
    mutable std::mutex mutex_;
    MonoTime now_;
    WallTime wallStart_;
    MonoTime monoStart_;
    unsigned long long seq_ = 0;
    std::map<std::pair<MonoTime, unsigned long long>, Item> items_;
    const Executor* running_ = nullptr;
    VirtualMainQueue main_;
    VirtualExecutor global_;
    std::vector<std::shared_ptr<VirtualExecutor>> queues_;
};

}  // namespace vocalynx::test
