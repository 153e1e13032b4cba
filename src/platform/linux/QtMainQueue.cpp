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
    auto [handle, guarded] = TaskHandle::wrap(std::move(task));
    const int ms = std::max(0, static_cast<int>(std::llround(delay.count() * 1000.0)));
    QObject* context = context_;
    // The timer must be started on the main thread; hop there first when called elsewhere.
    auto start = [context, ms, guarded = std::move(guarded)]() mutable {
        QTimer::singleShot(ms, Qt::PreciseTimer, context, std::move(guarded));
    };
    if (isCurrent())
        start();
    else
        QMetaObject::invokeMethod(context_, std::move(start), Qt::QueuedConnection);
    return handle;
}

bool QtMainQueue::isCurrent() const { return QThread::currentThread() == context_->thread(); }

}  // namespace vocalynx
