#pragma once
#include <QString>
#include <atomic>
#include <memory>

#include "core/DictationControl.h"
#include "core/WeakHandle.h"
#include "platform/Runtime.h"

namespace vocalynx {

// Notices when the main thread stops answering. From its own serial queue it asks the main queue
// to answer a fresh semaphore every pingInterval and waits hangThreshold for the answer; every
// unanswered ping is logged, and from the third in a row on each one queues a forced recovery of
// a dictation stuck in transcribing or collapsing. Started once, never stopped.
class MainThreadWatchdog {
public:
    // The program pings every 5 s and waits 5 s; tests on real time give shorter ones.
    struct Timing {
        double pingInterval = 5.0;   // seconds from the end of one ping to the start of the next
        double hangThreshold = 5.0;  // seconds a ping waits for the main thread
    };
    MainThreadWatchdog(Runtime& runtime, DictationControl& engine);
    MainThreadWatchdog(Runtime& runtime, DictationControl& engine, Timing timing);
    // Later pings find the watchdog gone and do nothing. A ping still waiting for the main thread
    // then ends without touching the runtime or the engine, so neither needs to outlive the
    // watchdog's queue.
    ~MainThreadWatchdog();

    // A second call does nothing.
    void start();
    bool isRunning() const;

    static inline const std::string queueLabel = "com.vocalynx.watchdog";

private:
    struct Core;
    std::unique_ptr<Core> core_;
};

}  // namespace vocalynx
