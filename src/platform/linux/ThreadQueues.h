#pragma once
// Serial queues on worker threads, a shared worker pool and the timer thread behind their
// delayed work.

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Executor.h"

namespace vocalynx {

// One thread that fires delayed work at its due time by handing it to its target executor.
class TimerThread {
public:
    TimerThread();
    ~TimerThread();
    void schedule(MonoTime due, Executor& target, Task task);
    // Stops firing; pending delayed work is dropped. Idempotent.
    void stop();

private:
    void run();
    struct Item {
        Executor* target;
        Task task;
    };
    std::mutex mutex_;
    std::condition_variable wake_;
    std::multimap<MonoTime, Item> items_;
    bool stopping_ = false;
    std::thread thread_;
};

class ThreadSerialQueue final : public SerialQueue {
public:
    ThreadSerialQueue(std::string label, TimerThread& timers);
    ~ThreadSerialQueue() override;
    // Runs what is queued, then joins the thread; later posts are dropped. Idempotent.
    void shutdown();
    void post(Task task) override;
    TaskHandle postAfter(Duration delay, Task task) override;
    bool isCurrent() const override;
    std::string label() const override { return label_; }

private:
    void run();
    std::string label_;
    TimerThread& timers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    bool stopping_ = false;
    bool joined_ = false;
    std::thread thread_;
};

// A fixed pool of worker threads: the one shared by the quality-of-service classes, or a pool of
// its own for blocking work.
class WorkerPool final : public Executor {
public:
    WorkerPool(unsigned threads, TimerThread& timers, std::string label = "vocalynx.global");
    ~WorkerPool() override;
    // Runs what is queued (and what that queues), then joins the threads. Idempotent.
    void shutdown();
    void post(Task task) override;
    TaskHandle postAfter(Duration delay, Task task) override;
    bool isCurrent() const override;

private:
    void run();
    TimerThread& timers_;
    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

class ThreadQueueFactory final : public QueueFactory {
public:
    ThreadQueueFactory();
    ~ThreadQueueFactory() override;
    std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) override;
    Executor& global() override;
    std::shared_ptr<Executor> makeWorkerPool(const std::string& label, unsigned threads) override;

private:
    // Declared first so that they outlive the timer thread and the pool.
    std::mutex queuesMutex_;
    std::vector<std::shared_ptr<ThreadSerialQueue>> queues_;
    std::vector<std::shared_ptr<WorkerPool>> pools_;
    TimerThread timers_;
    WorkerPool pool_;
};

}  // namespace vocalynx
