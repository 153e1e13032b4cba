#pragma once
// Weak references to an object that lives on one sequence (usually the main thread), for work that
// may outlive it: delayed tasks, completions, callbacks from reader and capture threads.
//
// The owner holds a `WeakFactory` and calls `invalidate()` first thing in its destructor (before any
// member is torn down). A `WeakRef` then gives:
//  - `get()`: on the owner's sequence only, the owner or null once it is gone. Debug builds abort
//    when it is called from another thread, since the owner could be destroyed under the caller.
//  - `run(work)`: from any thread, runs `work(owner)` while the owner cannot finish its destruction
//    (the owner's `invalidate()` waits for runs in progress); runs nothing once it is gone. The work
//    must be short and must not wait for the owner's sequence, nor destroy the owner.
// `invalidate()` must itself run on the owner's sequence (checked in debug builds).

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/Executor.h"
#include "platform/SequenceCheck.h"

namespace vocalynx {

namespace detail {
struct WeakControl {
    std::mutex mutex;
    std::condition_variable idle;
    void* target = nullptr;  // null once the owner is gone
    int running = 0;         // `run` calls in progress
    const Executor* sequence = nullptr;
    const char* name = "";
};
}  // namespace detail

template <typename T>
class WeakRef {
public:
    WeakRef() = default;

    // The owner, or null once it is gone. Only on the owner's sequence.
    T* get() const {
        if (!control_) return nullptr;
        if (control_->sequence) assertOnSequence(*control_->sequence, control_->name);
        std::lock_guard lock(control_->mutex);
        return static_cast<T*>(control_->target);
    }

    // Runs `work(owner)` on the calling thread unless the owner is gone; true when it ran.
    template <typename F>
    bool run(F&& work) const {
        if (!control_) return false;
        T* target = nullptr;
        {
            std::lock_guard lock(control_->mutex);
            if (!control_->target) return false;
            target = static_cast<T*>(control_->target);
            ++control_->running;
        }
        struct Release {
            detail::WeakControl& control;
            ~Release() {
                std::lock_guard lock(control.mutex);
                if (--control.running == 0) control.idle.notify_all();
            }
        } release{*control_};
        std::forward<F>(work)(*target);
        return true;
    }

private:
    template <typename>
    friend class WeakFactory;
    explicit WeakRef(std::shared_ptr<detail::WeakControl> control) : control_(std::move(control)) {}
    std::shared_ptr<detail::WeakControl> control_;
};

template <typename T>
class WeakFactory {
public:
    // `sequence` is where the owner lives (its `get()` and `invalidate()` are checked against it);
    // null leaves them unchecked. `name` names the owner in a failed check.
    explicit WeakFactory(T* owner, const Executor* sequence = nullptr, const char* name = "a weak reference")
        : control_(std::make_shared<detail::WeakControl>()) {
        control_->target = owner;
        control_->sequence = sequence;
        control_->name = name;
    }
    ~WeakFactory() { invalidate(); }
    WeakFactory(const WeakFactory&) = delete;
    WeakFactory& operator=(const WeakFactory&) = delete;

    WeakRef<T> weak() const { return WeakRef<T>(control_); }

    // Wraps work for the owner's sequence: it runs only while the owner exists.
    template <typename F>
    Task bind(F work) const {
        return [ref = weak(), work = std::move(work)]() mutable {
            if (T* owner = ref.get()) work(*owner);
        };
    }

    // Ends every reference: later `get()` and `run()` see nothing, and this waits for runs in
    // progress on other threads. Idempotent.
    void invalidate() {
        if (control_->sequence) assertOnSequence(*control_->sequence, control_->name);
        std::unique_lock lock(control_->mutex);
        control_->target = nullptr;
        control_->idle.wait(lock, [this] { return control_->running == 0; });
    }

private:
    std::shared_ptr<detail::WeakControl> control_;
};

}  // namespace vocalynx
