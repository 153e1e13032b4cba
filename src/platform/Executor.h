#pragma once
// Where work runs: the main queue, serial queues and the global pool all share this interface.
// Production runs it on the Qt event loop and worker threads; tests run it on a virtual clock.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace vocalynx {

// Seconds as a floating-point duration, the unit every delay in the system is given in.
using Duration = std::chrono::duration<double>;
using Task = std::function<void()>;

inline Duration seconds(double s) { return Duration(s); }

// A cancellable piece of delayed work. Cancelling before it starts means it never runs;
// cancelling is idempotent and may be done from any thread. An empty handle cancels nothing.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<std::atomic<bool>> cancelled) : cancelled_(std::move(cancelled)) {}
    void cancel() const {
        if (cancelled_) cancelled_->store(true);
    }
    bool isCancelled() const { return cancelled_ && cancelled_->load(); }
    bool isValid() const { return cancelled_ != nullptr; }
    explicit operator bool() const { return isValid(); }

    // For executors: make a fresh handle and the task wrapper that honours it.
    static std::pair<TaskHandle, Task> wrap(Task task) {
        auto flag = std::make_shared<std::atomic<bool>>(false);
        Task guarded = [flag, task = std::move(task)]() {
            if (!flag->load()) task();
        };
        return {TaskHandle(flag), std::move(guarded)};
    }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

class Executor {
public:
    virtual ~Executor() = default;
    // Runs the task later, in order with the other tasks of this executor. Thread-safe.
    virtual void post(Task task) = 0;
    // Runs the task after the delay unless the returned handle was cancelled first. Thread-safe.
    virtual TaskHandle postAfter(Duration delay, Task task) = 0;
    // True when the calling code runs on this executor.
    virtual bool isCurrent() const = 0;
};

// The application's main thread (the UI event loop).
class MainQueue : public Executor {
public:
    // Like postAfter, for periodic work that need not run at an exact instant (polls, idle
    // animation frames, keep-alive ticks): the delay may stretch or shrink by up to 5 % so that
    // timers falling close together share one wake-up of the main thread. Thread-safe.
    virtual TaskHandle postAfterCoarse(Duration delay, Task task) { return postAfter(delay, std::move(task)); }
    // The step on whose boundaries coarse timers of exactly that delay come due, so that periodic
    // work driven in such steps shares the main thread's wake-ups with every other timer of the
    // step; zero when delays are kept exactly.
    virtual Duration coarseStep() const { return Duration(0); }
    // Runs the task at the end of every coarse step until the returned handle is cancelled (an
    // empty handle and nothing run where coarseStep() is zero). Cheaper than a chain of
    // postAfterCoarse for work that runs every step or counts steps (the pointer poll, the cat's
    // frames): where the queue can, all such tasks share one repeating timer. Thread-safe.
    virtual TaskHandle postEveryCoarseStep(Task task);
};

// By default a chain of coarse delays, each started before the task runs so that the task may
// cancel it.
inline TaskHandle MainQueue::postEveryCoarseStep(Task task) {
    const Duration step = coarseStep();
    if (step <= Duration(0)) return {};
    struct Chain {
        static void next(MainQueue& queue, Duration step, std::shared_ptr<std::atomic<bool>> cancelled,
                         std::shared_ptr<Task> task) {
            queue.postAfterCoarse(step, [&queue, step, cancelled, task] {
                if (cancelled->load()) return;
                next(queue, step, cancelled, task);
                (*task)();
            });
        }
    };
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    Chain::next(*this, step, cancelled, std::make_shared<Task>(std::move(task)));
    return TaskHandle(cancelled);
}

// A serial queue: one task at a time, in order, on its own thread named after the label.
class SerialQueue : public Executor {
public:
    virtual std::string label() const = 0;
};

class QueueFactory {
public:
    virtual ~QueueFactory() = default;
    virtual std::shared_ptr<SerialQueue> makeSerialQueue(const std::string& label) = 0;
    // The shared pool; tasks posted here may run concurrently with each other.
    virtual Executor& global() = 0;
    // A pool of its own, with at most `threads` workers named after the label, for work that may
    // block for a long time (downloads, calls into other programs). However long its tasks hang,
    // they never take a thread from the shared pool, where the dictation's own work runs. Tasks
    // may run concurrently with each other; the pool lives as long as the factory.
    virtual std::shared_ptr<Executor> makeWorkerPool(const std::string& label, unsigned threads) = 0;
};

}  // namespace vocalynx
