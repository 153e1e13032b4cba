#pragma once
// The long-lived speech process: launched at warm-up or on demand, restarted after every
// dictation, relaunched 1.0 s after it dies by itself (unless the application is shutting down or
// the model failed to load), and ended for good at shutdown.

#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "core/WeakHandle.h"
#include "engine/ColiChannel.h"
#include "engine/ColiCommand.h"
#include "platform/Runtime.h"

namespace vocalynx {

class SpeechProcess {
public:
    struct Hooks {
        std::function<void()> reportModelUnavailable;  // any thread
        std::function<bool()> modelAlertShown;         // any thread
        // A process was launched and stored (launching thread): the speech stream reads its output
        // and binds it to a recording session that has no live process.
        std::function<void(const std::shared_ptr<ChildProcess>& process)> launched;
        // The persistent process exited by itself (reaper thread), before any relaunch.
        std::function<void(const ChildProcess* process)> exited;
        // The program exited right after its launch quickExitLimit times in a row (reaper thread).
        // Told once for each such run of exits; a process that lives longer ends the run.
        std::function<void(const QString& program)> exitsAtOnce;
    };

    // A process that ends within this many seconds of its launch exited at once.
    static constexpr double quickExitSeconds = 3.0;
    static constexpr int quickExitLimit = 3;

    SpeechProcess(Runtime& runtime, ColiChannel& channel, const ColiLocator& locator, ProcessLauncher* launcher,
                  Hooks hooks);
    ~SpeechProcess();
    SpeechProcess(const SpeechProcess&) = delete;
    SpeechProcess& operator=(const SpeechProcess&) = delete;

    void launchPersistentColi();
    // Ends the current process (without relaunch from its exit) and launches a fresh one.
    void terminateColiProcess();
    // Ends the process for good: no launch or relaunch happens afterwards.
    void shutdown();

    // Standard-error bytes of the process (pipe thread). Every read is looked at for the model
    // failure; the log gets each read's text cut to a sane length, an identical read again only as a
    // count, and at most maxStderrLinesPerSecond reads a second, with a count of the rest (a read
    // that reports the model failure is always logged).
    void handleColiStderr(const QByteArray& bytes);
    static constexpr int maxStderrLinesPerSecond = 20;
    // The given process has exited (reaper thread).
    void handleColiTermination(const ChildProcess* exited, pid_t pid);

private:
    struct ProcessHandles {
        std::shared_ptr<ChildProcess> process;
        std::shared_ptr<PipeWriter> in;
        std::shared_ptr<PipeReader> out, err;
    };
    // Moves the process and its pipes out of the shared fields (processLock held).
    ProcessHandles takeProcessHandles();
    // Takes the process and its pipes out of the shared fields, detaches their handlers and ends it.
    void endPersistentProcess(bool shuttingDown);
    void scheduleRelaunch();
    // Logs a read of standard error within the limits above (always: past the per-second cap).
    void logStderr(const QString& text, qsizetype bytes, bool always);
    // Log the counts of what was left out: identical reads, and all of it (stderrMutex_ held).
    void logStderrRepeatsLocked();
    void flushStderrCountsLocked();
    // Logs what the taken process's input dropped because the program did not read it.
    void logDroppedInput(const ProcessHandles& taken);

    Runtime& runtime_;
    ColiChannel& channel_;
    const ColiLocator& locator_;
    ProcessLauncher* launcher_;
    Hooks hooks_;
    // Handlers on the pipe, reaper and pool threads reach this object through it: they do nothing
    // once it is gone, and its destruction waits for one in progress.
    WeakFactory<SpeechProcess> weak_;

    // The standard-error log limits (any pipe thread, and the timer that logs the counts).
    std::mutex stderrMutex_;
    std::optional<MonoTime> stderrWindowStart_;
    int stderrLoggedInWindow_ = 0;
    qint64 stderrSkippedReads_ = 0, stderrSkippedBytes_ = 0;
    std::optional<QString> stderrLastLogged_;  // the text of the last read that was logged
    qint64 stderrRepeats_ = 0;                 // identical reads since it was logged
    bool stderrFlushScheduled_ = false;

    // The current process's launch (processLock held), and the exits right after a launch in a row.
    std::optional<MonoTime> launchedAt_;
    QString launchedProgram_;
    int quickExits_ = 0;
};

}  // namespace vocalynx
