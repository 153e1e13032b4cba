#include "engine/SpeechProcess.h"

#include <QStringDecoder>

#include "engine/ColiPid.h"
#include "engine/TranscriptRules.h"
#include "platform/LogText.h"

namespace vocalynx {

QString sessionText(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

QString optionalSessionText(const std::optional<QUuid>& id) {
    return id ? QStringLiteral("Optional(") + sessionText(*id) + QStringLiteral(")") : QStringLiteral("nil");
}

namespace {
void clearRecordedPid(pid_t pid) {
    int expected = static_cast<int>(pid);
    persistentColiPid.compare_exchange_strong(expected, 0);
}
}  // namespace

SpeechProcess::SpeechProcess(Runtime& runtime, ColiChannel& channel, const ColiLocator& locator,
                             ProcessLauncher* launcher, Hooks hooks)
    : runtime_(runtime),
      channel_(channel),
      locator_(locator),
      launcher_(launcher),
      hooks_(std::move(hooks)),
      weak_(this, &runtime.main, "SpeechProcess") {}

SpeechProcess::~SpeechProcess() { weak_.invalidate(); }

void SpeechProcess::launchPersistentColi() {
    const std::optional<LaunchCommand> command = locator_.makeColiArguments();
    if (!command || !launcher_) {
        runtime_.log.line(QStringLiteral("[Vocalynx] coli not available"));
        return;
    }
    {
        std::lock_guard lock(channel_.processLock);
        if (channel_.isShuttingDown) return;
    }
    QString error;
    std::shared_ptr<ChildProcess> process = launcher_->launch(*command, &error);
    if (!process) {
        runtime_.log.line(QStringLiteral("[Vocalynx] Failed to launch persistent coli: ") + error);
        return;
    }
    const pid_t pid = process->pid();
    std::shared_ptr<PipeWriter> input = process->standardInput();
    {
        std::lock_guard lock(channel_.processLock);
        if (channel_.isShuttingDown) {
            // Shut down while this process was starting: it is not kept.
            process->terminate();
            return;
        }
        if (channel_.persistentColiProcess) {
            // Another launch (an on-demand start racing the relaunch after an exit) stored its
            // process first. Only one is kept, so that none runs on with nobody to end it.
            process->terminate();
            runtime_.log.line(QStringLiteral("[Vocalynx] A second coli was launched beside the running one; ending it"));
            return;
        }
        persistentColiPid.store(static_cast<int>(pid));
        channel_.persistentColiProcess = process;
        channel_.persistentColiStdin = input;
        channel_.persistentColiStdout = process->standardOutput();
        channel_.persistentColiStderr = process->standardError();
        channel_.persistentColiReady = true;
        launchedAt_ = runtime_.clock.now();
        launchedProgram_ = command->executable;
    }
    // The handlers go on once the fields are stored, so that an exit right after the launch finds
    // its process in place and is handled like any other exit.
    process->standardError()->setReadHandler([weak = weak_.weak()](const QByteArray& bytes) {
        weak.run([&](SpeechProcess& self) { self.handleColiStderr(bytes); });
    });
    const ChildProcess* identity = process.get();
    process->setTerminationHandler([weak = weak_.weak(), identity, pid] {
        weak.run([&](SpeechProcess& self) { self.handleColiTermination(identity, pid); });
    });
    runtime_.log.line(QStringLiteral("[Vocalynx] Persistent coli launched (model loading...)"));
    // The stream reads its output, and gives it the audio of a recording session that was waiting.
    if (hooks_.launched) hooks_.launched(process);
}

void SpeechProcess::handleColiStderr(const QByteArray& bytes) {
    if (bytes.isEmpty()) return;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError()) return;
    const QString trimmed = transcript::trimmed(text);
    // The whole read is looked at, whatever the log keeps of it.
    const bool modelFailed =
        trimmed.contains(QStringLiteral("Load model from")) && trimmed.contains(QStringLiteral("failed"));
    QString shown = trimmed;
    if (modelFailed) {
        // The failure is what this log line is for: in a long read it is shown from its own line on.
        const qsizetype at = trimmed.indexOf(QStringLiteral("Load model from"));
        const qsizetype lineStart = trimmed.lastIndexOf(QLatin1Char('\n'), at) + 1;
        if (lineStart > 0 && at > 100) shown = QStringLiteral("…") + trimmed.mid(lineStart);
    }
    logStderr(shown, bytes.size(), modelFailed);
    if (modelFailed && hooks_.reportModelUnavailable) hooks_.reportModelUnavailable();
}

void SpeechProcess::logStderr(const QString& text, qsizetype bytes, bool always) {
    static const QString prefix = QStringLiteral("[Vocalynx] coli stderr: ");
    std::lock_guard lock(stderrMutex_);
    const MonoTime now = runtime_.clock.now();
    if (!stderrWindowStart_ || secondsBetween(*stderrWindowStart_, now) >= 1.0) {
        flushStderrCountsLocked();
        stderrWindowStart_ = now;
        stderrLoggedInWindow_ = 0;
    }
    bool skipped = false;
    if (stderrLastLogged_ && *stderrLastLogged_ == text) {
        ++stderrRepeats_;
        skipped = true;
    } else if (stderrLoggedInWindow_ >= maxStderrLinesPerSecond && !always) {
        ++stderrSkippedReads_;
        stderrSkippedBytes_ += bytes;
        skipped = true;
    }
    if (!skipped) {
        logStderrRepeatsLocked();
        ++stderrLoggedInWindow_;
        stderrLastLogged_ = text;
        runtime_.log.line(prefix + boundedLogValue(text));
        return;
    }
    // What was left out is counted in the log within about a second, also when nothing follows.
    if (stderrFlushScheduled_) return;
    stderrFlushScheduled_ = true;
    runtime_.queues.global().postAfter(Duration(1.0), [weak = weak_.weak()] {
        weak.run([](SpeechProcess& me) {
            std::lock_guard flushLock(me.stderrMutex_);
            me.stderrFlushScheduled_ = false;
            me.flushStderrCountsLocked();
        });
    });
}

void SpeechProcess::logStderrRepeatsLocked() {
    if (stderrRepeats_ == 0) return;
    runtime_.log.line(QStringLiteral("[Vocalynx] coli stderr: (the message before repeated: %1 more reads)")
                          .arg(stderrRepeats_));
    stderrRepeats_ = 0;
}

void SpeechProcess::flushStderrCountsLocked() {
    logStderrRepeatsLocked();
    if (stderrSkippedReads_ > 0) {
        runtime_.log.line(
            QStringLiteral("[Vocalynx] coli stderr: (%1 more reads, %2 bytes, not logged: more than %3 a second)")
                .arg(stderrSkippedReads_)
                .arg(stderrSkippedBytes_)
                .arg(maxStderrLinesPerSecond));
        stderrSkippedReads_ = 0;
        stderrSkippedBytes_ = 0;
    }
}

void SpeechProcess::logDroppedInput(const ProcessHandles& taken) {
    if (!taken.in) return;
    const qint64 dropped = taken.in->droppedBytes();
    if (dropped > 0)
        runtime_.log.line(
            QStringLiteral("[Vocalynx] The speech program did not read its input: dropped %1 bytes of audio").arg(dropped));
}

void SpeechProcess::handleColiTermination(const ChildProcess* exited, pid_t pid) {
    runtime_.log.line(QStringLiteral("[Vocalynx] Persistent coli process exited, relaunching..."));
    clearRecordedPid(pid);
    bool shuttingDown = false;
    ProcessHandles taken;
    int quickExits = 0;
    QString program;
    {
        std::lock_guard lock(channel_.processLock);
        shuttingDown = channel_.isShuttingDown;
        // Only the current process is dropped: a process that was already replaced must not take
        // its successor's handles with it (that successor would run on with no one writing to it).
        if (channel_.persistentColiProcess.get() != exited) return;
        taken = takeProcessHandles();
        const bool atOnce = launchedAt_ && secondsBetween(*launchedAt_, runtime_.clock.now()) < quickExitSeconds;
        quickExits_ = atOnce ? quickExits_ + 1 : 0;
        quickExits = quickExits_;
        program = launchedProgram_;
    }
    if (taken.out) taken.out->setReadHandler(nullptr);
    if (taken.err) taken.err->setReadHandler(nullptr);
    logDroppedInput(taken);
    if (hooks_.exited) hooks_.exited(exited);
    if (shuttingDown) return;
    if (hooks_.modelAlertShown && hooks_.modelAlertShown()) {
        runtime_.log.line(QStringLiteral("[Vocalynx] Skipping coli relaunch — model load failed"));
        return;
    }
    // A program that cannot start is still relaunched (it may be mended meanwhile), but the user
    // is told once, rather than seeing nothing while every dictation stays empty.
    if (quickExits == quickExitLimit) {
        runtime_.log.line(QStringLiteral("[Vocalynx] coli exited right after its launch %1 times in a row").arg(quickExits));
        if (hooks_.exitsAtOnce) hooks_.exitsAtOnce(program);
    }
    scheduleRelaunch();
}

void SpeechProcess::scheduleRelaunch() {
    runtime_.queues.global().postAfter(Duration(1.0), [weak = weak_.weak()] {
        weak.run([](SpeechProcess& me) {
            if (me.hooks_.modelAlertShown && me.hooks_.modelAlertShown()) return;
            {
                std::lock_guard lock(me.channel_.processLock);
                if (me.channel_.persistentColiProcess || me.channel_.isShuttingDown) return;
            }
            me.launchPersistentColi();
        });
    });
}

void SpeechProcess::terminateColiProcess() {
    endPersistentProcess(false);
    if (locator_.locateColi()) launchPersistentColi();
}

void SpeechProcess::shutdown() { endPersistentProcess(true); }

SpeechProcess::ProcessHandles SpeechProcess::takeProcessHandles() {
    ProcessHandles taken{std::move(channel_.persistentColiProcess), std::move(channel_.persistentColiStdin),
                         std::move(channel_.persistentColiStdout), std::move(channel_.persistentColiStderr)};
    channel_.persistentColiProcess.reset();
    channel_.persistentColiStdin.reset();
    channel_.persistentColiStdout.reset();
    channel_.persistentColiStderr.reset();
    channel_.persistentColiReady = false;
    return taken;
}

void SpeechProcess::endPersistentProcess(bool shuttingDown) {
    ProcessHandles taken;
    {
        std::lock_guard lock(channel_.processLock);
        if (shuttingDown) channel_.isShuttingDown = true;
        taken = takeProcessHandles();
    }
    // The exit handler goes first: a program that ends at the end of its input would otherwise
    // be handled as a process that died by itself.
    if (taken.process) taken.process->setTerminationHandler(nullptr);
    if (taken.out) taken.out->setReadHandler(nullptr);
    if (taken.err) taken.err->setReadHandler(nullptr);
    // Closing never waits for a write: a program that stopped reading cannot hold this up.
    if (taken.in) taken.in->close();
    logDroppedInput(taken);
    if (taken.process) {
        clearRecordedPid(taken.process->pid());
        taken.process->terminate();
    }
}

}  // namespace vocalynx
