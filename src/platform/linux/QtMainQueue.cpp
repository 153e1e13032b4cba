#include "platform/linux/QtMainQueue.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QTimerEvent>
#include <chrono>
#include <cmath>
#include <deque>
#include <mutex>

namespace vocalynx {

// The one timer behind every task that runs each coarse step. It runs only while a task is
// subscribed, and each step comes due just after one of the monotonic clock's 50 ms boundaries:
// the instants on which Qt's coarse timers of whole seconds (the heartbeat, the look at other
// players) and the coarse delays started from a step come due too, so that all of them share one
// wake-up. Each step aims at the next boundary itself, so a late step never moves the later ones.
class QtMainQueue::StepTimer final : public QObject {
public:
    void add(std::shared_ptr<std::atomic<bool>> cancelled, Task task) {
        entries_.push_back({std::move(cancelled), std::move(task)});
        // The first step at least half a step away, so that it counts nearly a whole step.
        if (timerId_ == 0) arm(kCoarseStep / 2);
    }

protected:
    void timerEvent(QTimerEvent* event) override {
        if (event->timerId() != timerId_) return;
        killTimer(timerId_);
        arm(std::chrono::milliseconds(1));
        // A task that runs a nested event loop does not get a second step inside the first.
        if (running_) return;
        // Tasks subscribed while the step runs start with the next step (a deque keeps the
        // running task in place when one is added).
        running_ = true;
        bool cancelledSome = false;
        const size_t count = entries_.size();
        for (size_t i = 0; i < count; ++i) {
            if (entries_[i].cancelled->load())
                cancelledSome = true;
            else
                entries_[i].task();
        }
        running_ = false;
        if (cancelledSome) std::erase_if(entries_, [](const Entry& e) { return e.cancelled->load(); });
        if (entries_.empty()) {
            killTimer(timerId_);
            timerId_ = 0;
        }
    }

private:
    struct Entry {
        std::shared_ptr<std::atomic<bool>> cancelled;
        Task task;
    };

    // Starts the timer for the next boundary at least minimum away.
    void arm(std::chrono::milliseconds minimum) {
        // Qt's timers run on the monotonic clock, which is steady_clock here.
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(kCoarseStep - now % kCoarseStep);
        if (wait < minimum) wait += kCoarseStep;
        timerId_ = startTimer(wait, Qt::PreciseTimer);
    }

    std::deque<Entry> entries_;
    int timerId_ = 0;
    bool running_ = false;
};

// A posted task waits in a queue of the receiver's under a mutex of ours, and a bare event posted
// with it has the main thread take the oldest one and run it; the task is destroyed there too.
// (Carried inside the event, a task's hand-over would be ordered only by Qt's own event-queue lock,
// which a thread sanitizer does not see. A queued functor call instead drops its last reference on
// whichever thread finishes last, so a task could be destroyed on the posting thread while the main
// thread had just run it.) One event runs one task, so tasks keep their order among Qt's own events.
namespace {
const QEvent::Type kTaskEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}  // namespace

class QtMainQueue::Receiver final : public QObject {
public:
    void push(Task task) {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }

protected:
    // Only the events posted with a task reach here; the event itself is not looked at.
    void customEvent(QEvent*) override {
        Task task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }

private:
    std::mutex mutex_;
    std::deque<Task> tasks_;
};

QtMainQueue::QtMainQueue() : context_(new Receiver), steps_(new StepTimer) {}

QtMainQueue::~QtMainQueue() {
    delete steps_;
    delete context_;
}

void QtMainQueue::post(Task task) { hop(std::move(task)); }

void QtMainQueue::hop(Task task) {
    context_->push(std::move(task));
    QCoreApplication::postEvent(context_, new QEvent(kTaskEvent));
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

TaskHandle QtMainQueue::postEveryCoarseStep(Task task) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    TaskHandle handle(cancelled);
    StepTimer* steps = steps_;
    auto add = [steps, cancelled = std::move(cancelled), task = std::move(task)]() mutable {
        steps->add(std::move(cancelled), std::move(task));
    };
    if (isCurrent())
        add();
    else
        hop(std::move(add));
    return handle;
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
        hop(std::move(start));
    return handle;
}

bool QtMainQueue::isCurrent() const { return QThread::currentThread() == context_->thread(); }

}  // namespace vocalynx
