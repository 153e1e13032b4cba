#include "VirtualTime.h"

namespace vocalynx::test {

void VirtualExecutor::post(Task task) { time_.schedule(this, Duration(0), std::move(task)); }

TaskHandle VirtualExecutor::postAfter(Duration delay, Task task) {
    auto [handle, guarded] = TaskHandle::wrap(std::move(task));
    time_.schedule(this, delay, std::move(guarded));
    return handle;
}

bool VirtualExecutor::isCurrent() const {
    std::lock_guard lock(time_.mutex_);
    return time_.running_ == this;
}

VirtualMainQueue::VirtualMainQueue(VirtualTime& time) : time_(time), testThread_(std::this_thread::get_id()) {}

void VirtualMainQueue::post(Task task) { time_.schedule(this, Duration(0), std::move(task)); }

TaskHandle VirtualMainQueue::postAfter(Duration delay, Task task) {
    auto [handle, guarded] = TaskHandle::wrap(std::move(task));
    time_.schedule(this, delay, std::move(guarded));
    return handle;
}

bool VirtualMainQueue::isCurrent() const {
    std::lock_guard lock(time_.mutex_);
    if (time_.running_ == this) return true;
    return time_.running_ == nullptr && std::this_thread::get_id() == testThread_;
}

VirtualTime::VirtualTime()
    : now_(std::chrono::steady_clock::time_point{} + std::chrono::hours(1000)),
      // A fixed wall-clock origin keeps timestamps in expected lines reproducible.
      wallStart_(std::chrono::system_clock::time_point{} + std::chrono::seconds(1796800474)),
      monoStart_(now_),
      main_(*this),
      global_(*this, "global") {}

MonoTime VirtualTime::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

WallTime VirtualTime::wallNow() const {
    std::lock_guard lock(mutex_);
    return wallStart_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(now_ - monoStart_);
}

void VirtualTime::sleepFor(Duration d) {
    std::lock_guard lock(mutex_);
    if (d > Duration(0)) now_ = now_ + d;
}

std::shared_ptr<SerialQueue> VirtualTime::makeSerialQueue(const std::string& label) {
    auto q = std::make_shared<VirtualExecutor>(*this, label);
    std::lock_guard lock(mutex_);
    queues_.push_back(q);
    return q;
}

std::shared_ptr<Executor> VirtualTime::makeWorkerPool(const std::string& label, unsigned) {
    return makeSerialQueue(label);
}

void VirtualTime::schedule(const Executor* target, Duration delay, Task task) {
    std::lock_guard lock(mutex_);
    if (delay < Duration(0)) delay = Duration(0);
    items_.emplace(std::make_pair(now_ + delay, seq_++), Item{target, std::move(task)});
}

void VirtualTime::advance(Duration d) {
    MonoTime end;
    {
        std::lock_guard lock(mutex_);
        end = now_ + d;
    }
    for (;;) {
        Item item;
        {
            std::lock_guard lock(mutex_);
            auto first = items_.begin();
            if (first == items_.end() || first->first.first > end) {
                if (end > now_) now_ = end;
                return;
            }
            if (first->first.first > now_) now_ = first->first.first;
            item = std::move(first->second);
            items_.erase(first);
            running_ = item.target;
        }
        item.task();
        std::lock_guard lock(mutex_);
        running_ = nullptr;
    }
}

size_t VirtualTime::pending() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

double VirtualTime::nextDueIn() const {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return -1;
    return std::chrono::duration<double>(items_.begin()->first.first - now_).count();
}

std::string VirtualTime::currentQueue() const {
    std::lock_guard lock(mutex_);
    if (!running_) return {};
    if (running_ == &main_) return "main";
    if (auto q = dynamic_cast<const SerialQueue*>(running_)) return q->label();
    return {};
}

bool VirtualTime::onMain() const {
    std::lock_guard lock(mutex_);
    return running_ == nullptr || running_ == &main_;
}

}  // namespace vocalynx::test
