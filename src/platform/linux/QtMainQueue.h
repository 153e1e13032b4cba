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
    bool isCurrent() const override;

private:
    TaskHandle startTimer(Duration delay, Qt::TimerType type, Task task);
    QObject* context_;  // lives on the main thread; queued calls and timers target it
};

}  // namespace vocalynx
