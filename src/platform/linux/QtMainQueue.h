#pragma once
#include <QObject>
#include <QThread>
#include <chrono>

#include "platform/Executor.h"

namespace vocalynx {

// The main queue on the Qt event loop of the thread that created it (the GUI thread).
class QtMainQueue final : public MainQueue {
public:
    QtMainQueue();
    ~QtMainQueue() override;
    void post(Task task) override;
    TaskHandle postAfter(Duration delay, Task task) override;
    TaskHandle postAfterCoarse(Duration delay, Task task) override;
    Duration coarseStep() const override { return kCoarseStep; }
    TaskHandle postEveryCoarseStep(Task task) override;
    bool isCurrent() const override;

private:
    // The coarse timers' step, and the shared step timer's.
    static constexpr std::chrono::milliseconds kCoarseStep{50};
    class StepTimer;
    class Receiver;
    TaskHandle startTimer(Duration delay, Qt::TimerType type, Task task);
    // Hands a task to the main thread's event loop from any thread.
    void hop(Task task);
    Receiver* context_;  // lives on the main thread; posted tasks and timers target it
    StepTimer* steps_;   // the coarse steps' shared timer, on the main thread too
};

}  // namespace vocalynx
