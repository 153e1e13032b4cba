#pragma once
#include <QObject>
#include <QThread>

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
    Duration coarseStep() const override { return Duration(0.05); }
    TaskHandle postEveryCoarseStep(Task task) override;
    bool isCurrent() const override;

private:
    class StepTimer;
    TaskHandle startTimer(Duration delay, Qt::TimerType type, Task task);
    QObject* context_;   // lives on the main thread; queued calls and timers target it
    StepTimer* steps_;   // the coarse steps' shared timer, on the main thread too
};

}  // namespace vocalynx
