#include "platform/linux/ThreadQueues.h"

#include <pthread.h>

#include <algorithm>

namespace vocalynx {

namespace {
thread_local const void* currentExecutor = nullptr;

void nameThread(const std::string& label) {
    // Linux thread names hold at most 15 bytes.
    pthread_setname_np(pthread_self(), label.substr(0, 15).c_str());
}

MonoTime dueAfter(Duration delay) {
    return std::chrono::steady_clock::now() +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay < Duration(0) ? Duration(0) : delay);
}
}  // namespace

TimerThread::TimerThread() : thread_([this] { run(); }) {}

TimerThread::~TimerThread() { stop(); }

void TimerThread::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    items_.clear();
}

void TimerThread::schedule(MonoTime due, Executor& target, Task task) {
    {
        std::lock_guard lock(mutex_);
        items_.emplace(due, Item{&target, std::move(task)});
    }
    wake_.notify_all();
}

void TimerThread::run() {
    nameThread("vocalynx.timers");
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (items_.empty()) {
            wake_.wait(lock);
            continue;
        }
        auto first = items_.begin();
        if (first->first > std::chrono::steady_clock::now()) {
            wake_.wait_until(lock, first->first);
            continue;
        }
        Item item = std::move(first->second);
        items_.erase(first);
        lock.unlock();
        item.target->post(std::move(item.task));
        lock.lock();
    }
}

ThreadSerialQueue::ThreadSerialQueue(std::string label, TimerThread& timers)
    : label_(std::move(label)), timers_(timers), thread_([this] { run(); }) {}

ThreadSerialQueue::~ThreadSerialQueue() { shutdown(); }

void ThreadSerialQueue::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (joined_) return;
        joined_ = true;
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();  // a task of this queue ended it; the thread finishes on its own
    else
        thread_.join();
}

void ThreadSerialQueue::post(Task task) {
    std::lock_guard lock(mutex_);
    if (joined_ && !thread_.joinable()) return;
    tasks_.push_back(std::move(task));
    wake_.notify_one();
}

TaskHandle ThreadSerialQueue::postAfter(Duration delay, Task task) {
    auto [handle, guarded] = TaskHandle::wrap(std::move(task));
    timers_.schedule(dueAfter(delay), *this, std::move(guarded));
    return handle;
}

bool ThreadSerialQueue::isCurrent() const { return currentExecutor == this; }

void ThreadSerialQueue::run() {
    nameThread(label_);
    currentExecutor = this;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) return;  // stopping and drained
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

WorkerPool::WorkerPool(unsigned threads, TimerThread& timers, std::string label)
    : timers_(timers), label_(std::move(label)) {
    for (unsigned i = 0; i < std::max(1u, threads); ++i) threads_.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool() { shutdown(); }

void WorkerPool::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
}

void WorkerPool::post(Task task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    wake_.notify_one();
}

TaskHandle WorkerPool::postAfter(Duration delay, Task task) {
    auto [handle, guarded] = TaskHandle::wrap(std::move(task));
    timers_.schedule(dueAfter(delay), *this, std::move(guarded));
    return handle;
}

bool WorkerPool::isCurrent() const { return currentExecutor == this; }

void WorkerPool::run() {
    nameThread(label_);
    currentExecutor = this;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) return;
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

ThreadQueueFactory::ThreadQueueFactory() : pool_(std::max(4u, std::thread::hardware_concurrency()), timers_) {}

ThreadQueueFactory::~ThreadQueueFactory() {
    // No delayed work fires any more; then every serial queue finishes before the pool it may
    // post to goes away.
    timers_.stop();
    std::lock_guard lock(queuesMutex_);
    for (auto& queue : queues_) queue->shutdown();
    for (auto& pool : pools_) pool->shutdown();
}

std::shared_ptr<SerialQueue> ThreadQueueFactory::makeSerialQueue(const std::string& label) {
    auto queue = std::make_shared<ThreadSerialQueue>(label, timers_);
    std::lock_guard lock(queuesMutex_);
    queues_.push_back(queue);
    return queue;
}

Executor& ThreadQueueFactory::global() { return pool_; }

std::shared_ptr<Executor> ThreadQueueFactory::makeWorkerPool(const std::string& label, unsigned threads) {
    auto pool = std::make_shared<WorkerPool>(threads, timers_, label);
    std::lock_guard lock(queuesMutex_);
    pools_.push_back(pool);
    return pool;
}

}  // namespace vocalynx
