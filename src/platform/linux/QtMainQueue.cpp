#include "platform/linux/QtMainQueue.h"

#include <QMetaObject>
#include <QTimer>
#include <cmath>

namespace vocalynx {

QtMainQueue::QtMainQueue() : context_(new QObject) {}

QtMainQueue::~QtMainQueue() { delete context_; }

void QtMainQueue::post(Task task) {
    QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

TaskHandle QtMainQueue::postAfter(Duration delay, Task task) {
    return startTimer(delay, Qt::PreciseTimer, std::move(task));
}

// Qt's coarse timers keep within 5 % of the delay and move the wake-up onto a round boundary
// (multiples of 50 ms for a 50 ms timer, of 500 ms for a 1 s one, of 25 ms for most others), so
// periodic timers with related intervals come due at the same instant and fire in one wake-up.
TaskHandle QtMainQueue::postAfterCoarse(Duration delay, Task task) {
    return startTimer(delay, Qt::CoarseTimer, std::move(task));
}

TaskHandle QtMainQueue::startTimer(Duration delay, Qt::TimerType type, Task task) {
    auto [handle, guarded] = TaskHandle::wrap(std::move(task));
    const int ms = std::max(0, static_cast<int>(std::llround(delay.count() * 1000.0)));
    QObject* context = context_;
    // The timer must be started on the main thread; hop there first when called elsewhere.
    auto start = [context, ms, type, guarded = std::move(guarded)]() mutable {
        QTimer::singleShot(ms, type, context, std::move(guarded));
    };
    if (isCurrent())
        start();
    else
        QMetaObject::invokeMethod(context_, std::move(start), Qt::QueuedConnection);
    return handle;
}

bool QtMainQueue::isCurrent() const { return QThread::currentThread() == context_->thread(); }

}  // namespace vocalynx
