#include "core/MainThreadWatchdog.h"

#include <QLocale>
#include <condition_variable>
#include <mutex>

namespace vocalynx {

namespace {

// Signalled once by the main queue; a ping waits on it with a deadline. Each ping makes its own,
// so a late answer to an earlier ping can never satisfy a later one.
class Semaphore {
public:
    void signal() {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        cv_.notify_all();
    }
    bool waitFor(Duration timeout) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout),
                            [this] { return signalled_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_ = false;
};

// The shortest decimal form of the number, with at least one fractional digit ("5.0", "2.5").
QString shortestWithFraction(double value) {
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e'))) text += QStringLiteral(".0");
    return text;
}

}  // namespace

struct MainThreadWatchdog::Core {
    Core(Runtime& rt, DictationControl& e, Timing t)
        : runtime(rt),
          engine(e),
          timing(t),
          queue(rt.queues.makeSerialQueue(queueLabel)),
          weak(this, &rt.main, "MainThreadWatchdog") {}

    void scheduleNextPing() {
        queue->postAfter(Duration(timing.pingInterval), [ref = weak.weak()] { ping(ref); });
    }

    // On the watchdog queue. The runtime and the engine are reached only inside `run`, never while
    // the ping waits: a watchdog destroyed meanwhile is not touched again.
    static void ping(const WeakRef<Core>& ref) {
        auto semaphore = std::make_shared<Semaphore>();
        MonoTime start{};
        bool running = false;
        double threshold = 0;
        ref.run([&](Core& core) {
            running = core.isRunning.load();
            if (!running) return;
            threshold = core.timing.hangThreshold;
            start = core.runtime.clock.now();
            core.runtime.main.post([semaphore] { semaphore->signal(); });
        });
        if (!running) return;
        const bool answered = semaphore->waitFor(Duration(threshold));
        ref.run([&](Core& core) { core.pingEnded(start, answered); });
    }

    // On the watchdog queue, once the ping was answered or its wait ran out.
    void pingEnded(MonoTime start, bool answered) {
        if (!answered) {
            ++consecutiveHangs;
            // Read without a lock: a stale value only changes this line; the recovery re-reads it.
            const RecordingState state = engine.state();
            runtime.log.line(QStringLiteral("[Vocalynx][Watchdog] HANG DETECTED main thread blocked ≥") +
                             QString::asprintf("%.1f", secondsBetween(start, runtime.clock.now())) +
                             QStringLiteral("s consecutive=") + QString::number(consecutiveHangs) +
                             QStringLiteral(" engineState=") + recordingStateName(state));
            if (consecutiveHangs >= 3) {
                runtime.log.line(QStringLiteral("[Vocalynx][Watchdog] Persistent hang (") +
                                 QString::number(consecutiveHangs) +
                                 QStringLiteral("x), forcing engine recovery"));
                // Not reset: each further unanswered ping queues another recovery, and they run in
                // turn once the main thread is free again.
                runtime.main.post(weak.bind([](Core& core) { core.forceRecovery(); }));
            }
        } else {
            if (consecutiveHangs > 0) {
                runtime.log.line(QStringLiteral("[Vocalynx][Watchdog] Main thread recovered after ") +
                                 QString::number(consecutiveHangs) + QStringLiteral(" hang(s), latency=") +
                                 QString::asprintf("%.3f", secondsBetween(start, runtime.clock.now())) +
                                 QStringLiteral("s"));
            }
            consecutiveHangs = 0;
        }
        scheduleNextPing();
    }

    // On the main thread.
    void forceRecovery() {
        const RecordingState state = engine.state();
        runtime.log.line(QStringLiteral("[Vocalynx][Watchdog] Main thread resumed after hang, engineState=") +
                         recordingStateName(state));
        if (state == RecordingState::transcribing || state == RecordingState::collapsing) {
            runtime.log.line(QStringLiteral("[Vocalynx][Watchdog] Triggering stale state recovery"));
            engine.recoverFromStalledState(state, QStringLiteral("watchdog-hang-") + recordingStateName(state));
        }
    }

    Runtime& runtime;
    DictationControl& engine;
    const Timing timing;
    std::shared_ptr<SerialQueue> queue;
    std::atomic<bool> isRunning{false};
    int consecutiveHangs = 0;  // touched only on the watchdog queue once running
    // Pings and queued recoveries hold this weakly.
    WeakFactory<Core> weak;
};

MainThreadWatchdog::MainThreadWatchdog(Runtime& runtime, DictationControl& engine)
    : MainThreadWatchdog(runtime, engine, Timing{}) {}

MainThreadWatchdog::MainThreadWatchdog(Runtime& runtime, DictationControl& engine, Timing timing)
    : core_(std::make_unique<Core>(runtime, engine, timing)) {}

MainThreadWatchdog::~MainThreadWatchdog() {
    core_->weak.invalidate();
    core_->isRunning.store(false);
}

bool MainThreadWatchdog::isRunning() const { return core_->isRunning.load(); }

void MainThreadWatchdog::start() {
    assertOnSequence(core_->runtime.main, "MainThreadWatchdog::start");
    if (core_->isRunning.load()) return;
    // Reset before the first ping is queued; from then on only the queue touches the counter.
    core_->consecutiveHangs = 0;
    core_->isRunning.store(true);
    core_->runtime.log.line(QStringLiteral("[Vocalynx][Watchdog] Started (interval=") +
                            shortestWithFraction(core_->timing.pingInterval) + QStringLiteral("s threshold=") +
                            shortestWithFraction(core_->timing.hangThreshold) + QStringLiteral("s)"));
    core_->scheduleNextPing();
}

}  // namespace vocalynx
