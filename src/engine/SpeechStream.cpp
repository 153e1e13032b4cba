#include "engine/SpeechStream.h"

namespace vocalynx {

SpeechStream::SpeechStream(Runtime& runtime, ColiChannel& channel, SpeechProcess& process, const ColiLocator& locator,
                           Hooks hooks)
    : runtime_(runtime),
      channel_(channel),
      process_(process),
      locator_(locator),
      hooks_(std::move(hooks)),
      weak_(this, &runtime.main, "SpeechStream") {}

SpeechStream::~SpeechStream() {
    weak_.invalidate();
    std::lock_guard lock(channel_.processLock);
    channel_.finalizeDrainWorkItem.cancel();
}

void SpeechStream::bindSessionLocked(const std::shared_ptr<ChildProcess>& process) {
    channel_.coliProcess = process;
    channel_.coliStdin = channel_.persistentColiProcess == process ? channel_.persistentColiStdin
                                                                    : process->standardInput();
    channel_.coliReady = false;  // flushPendingAudio lets audio through once the kept audio is written
    channel_.lineBuffer.clear();
}

void SpeechStream::flushPendingAudio(const std::shared_ptr<ChildProcess>& process) {
    // Audio that arrives while the kept audio is written is kept too, so the process hears it all
    // in order; direct writes start once nothing is left.
    for (;;) {
        std::vector<QByteArray> chunks;
        std::shared_ptr<PipeWriter> writer;
        {
            std::lock_guard lock(channel_.processLock);
            if (channel_.coliProcess != process || !channel_.sessionRecording || !channel_.coliStdin) return;
            if (channel_.pendingAudioBuffer.empty()) {
                channel_.coliReady = true;
                return;
            }
            chunks.swap(channel_.pendingAudioBuffer);
            writer = channel_.coliStdin;
        }
        for (const QByteArray& chunk : chunks) writer->write(chunk);  // a failed write is ignored
    }
}

void SpeechStream::closeSessionLocked() {
    channel_.activeColiSessionID.reset();
    channel_.lineBuffer.clear();
    channel_.coliProcess.reset();
    channel_.coliStdin.reset();
    channel_.coliReady = false;
    channel_.sessionRecording = false;
    channel_.pendingAudioBuffer.clear();
}

void SpeechStream::beginColiSession() {
    assertOnSequence(runtime_.main, "SpeechStream::beginColiSession");
    const QUuid id = QUuid::createUuid();
    std::shared_ptr<ChildProcess> ready;
    {
        std::lock_guard delivery(deliveryLock_);
        std::lock_guard lock(channel_.processLock);
        channel_.activeColiSessionID = id;
        channel_.lineBuffer.clear();
        channel_.coliProcess.reset();
        channel_.coliStdin.reset();
        channel_.coliReady = false;
        channel_.sessionRecording = true;
        if (channel_.persistentColiReady && channel_.persistentColiProcess) {
            ready = channel_.persistentColiProcess;
            bindSessionLocked(ready);
        }
    }
    if (ready) {
        flushPendingAudio(ready);
        runtime_.log.line(QStringLiteral("[Vocalynx] Reusing persistent coli for session ") + sessionText(id));
        return;
    }
    if (!locator_.locateColi()) {
        runtime_.log.line(QStringLiteral("[Vocalynx] coli not found in PATH"));
        return;
    }
    runtime_.log.line(QStringLiteral("[Vocalynx] Persistent coli not ready, launching on-demand..."));
    process_.launchPersistentColi();  // a launched process reaches processLaunched, which binds it
}

void SpeechStream::processLaunched(const std::shared_ptr<ChildProcess>& process) {
    // Read from the start, whether or not a session is open: output with no session to take it is
    // dropped here instead of waiting in the pipe for the next session.
    std::weak_ptr<ChildProcess> weakProcess = process;
    process->standardOutput()->setReadHandler([weak = weak_.weak(), weakProcess](const QByteArray& bytes) {
        if (bytes.isEmpty()) return;
        auto from = weakProcess.lock();
        if (from) weak.run([&](SpeechStream& self) { self.handleColiOutput(bytes, std::nullopt, from); });
    });

    std::optional<QUuid> movedSession;
    {
        std::lock_guard delivery(deliveryLock_);
        {
            std::lock_guard lock(channel_.processLock);
            if (channel_.persistentColiProcess != process) return;  // already gone again
            if (!channel_.sessionRecording || !channel_.activeColiSessionID) return;
            if (channel_.coliProcess == process) return;
            if (channel_.coliProcess && channel_.coliProcess->isRunning()) return;  // served by a live process
            if (channel_.coliProcess) movedSession = channel_.activeColiSessionID;  // its process died
            bindSessionLocked(process);
        }
        if (movedSession && hooks_.sessionMovedToNewProcess) hooks_.sessionMovedToNewProcess();
    }
    if (movedSession)
        runtime_.log.line(QStringLiteral("[Vocalynx] Session ") + sessionText(*movedSession) +
                          QStringLiteral(" continues on the relaunched coli; the text so far is kept"));
    flushPendingAudio(process);
}

void SpeechStream::processExited(const ChildProcess* process) {
    std::optional<QUuid> session;
    {
        std::lock_guard lock(channel_.processLock);
        if (!channel_.sessionRecording || channel_.coliProcess.get() != process || !channel_.coliStdin) return;
        channel_.coliStdin.reset();
        channel_.coliReady = false;  // the session's audio is kept for the relaunched process
        session = channel_.activeColiSessionID;
    }
    runtime_.log.line(QStringLiteral("[Vocalynx] coli exited during the recording of session ") +
                      (session ? sessionText(*session) : QStringLiteral("nil")) +
                      QStringLiteral("; keeping its audio for the relaunched coli"));
}

void SpeechStream::sendPCM(const QByteArray& chunk) {
    if (chunk.isEmpty()) return;
    std::unique_lock lock(channel_.processLock);
    if (!channel_.sessionRecording) return;  // no recording takes it: it reaches no process
    if (channel_.coliReady && channel_.coliStdin) {
        std::shared_ptr<PipeWriter> writer = channel_.coliStdin;
        lock.unlock();
        writer->write(chunk);  // a failed write is ignored; the bytes still count as sent
        pcmBytesSent_ += chunk.size();
        return;
    }
    channel_.pendingAudioBuffer.push_back(chunk);
    pcmBytesBuffered_ += chunk.size();
}

void SpeechStream::handleColiOutput(const QByteArray& bytes, std::optional<QUuid> session,
                                    const std::shared_ptr<ChildProcess>& from) {
    if (bytes.isEmpty()) return;
    std::lock_guard delivery(deliveryLock_);
    bool overflowed = false;
    QList<QByteArray> lines;
    {
        std::lock_guard lock(channel_.processLock);
        const std::optional<QUuid> target = session ? session : channel_.activeColiSessionID;
        if (!target || target != channel_.activeColiSessionID) return;
        if (from && from != channel_.coliProcess) return;  // a process that does not serve the session
        lines = channel_.lineBuffer.append(bytes, &overflowed);
    }
    if (overflowed)
        runtime_.log.line(QStringLiteral("[Vocalynx] Dropped a coli output line longer than ") +
                          QString::number(ColiLineBuffer::maxLineBytes) + QStringLiteral(" bytes"));
    for (const QByteArray& line : lines) {
        const std::optional<QString> text = transcriptFromLine(line);
        if (text && hooks_.deliverTranscript) hooks_.deliverTranscript(*text);
    }
}

void SpeechStream::finishColiStream(std::function<void()> completion) {
    assertOnSequence(runtime_.main, "SpeechStream::finishColiStream");
    std::optional<QUuid> activeForLog;
    size_t pendingCount = 0;
    {
        std::lock_guard lock(channel_.processLock);
        activeForLog = channel_.activeColiSessionID;
        pendingCount = channel_.pendingAudioBuffer.size();
        channel_.finalizeDrainWorkItem.cancel();
    }
    runtime_.logState(QStringLiteral("finishColiStream begin activeSession=") + optionalSessionText(activeForLog) +
                      QStringLiteral(" pendingAudioBuffer=") + QString::number(pendingCount));

    // The drain item runs at most once, even when it is both scheduled and started early.
    struct Fired {
        std::mutex mutex;
        bool fired = false;
    };
    auto fired = std::make_shared<Fired>();
    std::unique_lock lock(channel_.processLock);
    const std::optional<QUuid> session = channel_.activeColiSessionID;
    const QUuid token = QUuid::createUuid();
    channel_.finalizeDrainToken = token;
    // Audio from now on goes nowhere; what was kept for a process that never came is dropped.
    channel_.coliReady = false;
    channel_.sessionRecording = false;
    channel_.pendingAudioBuffer.clear();
    const std::shared_ptr<ChildProcess> process = channel_.coliProcess;
    const std::shared_ptr<PipeWriter> input = channel_.coliStdin;
    const bool running = process && process->isRunning();
    // The drain's last steps (closing the session, replacing the process, preparing the next
    // capture session) run to their end before this object can be destroyed.
    Task item = [weak = weak_.weak(), fired, session, token, completion = std::move(completion)] {
        {
            std::lock_guard firedLock(fired->mutex);
            if (fired->fired) return;
            fired->fired = true;
        }
        weak.run([&](SpeechStream& self) { self.completeColiDrain(session, token, completion); });
    };
    Executor& drainQueue = runtime_.queues.global();
    if (running) {
        channel_.finalizeDrainWorkItem = drainQueue.postAfter(Duration(drainSeconds), std::move(item));
        lock.unlock();
        // End of input: the recogniser finishes its last segment, and its output is still read
        // until the drain ends. The process is replaced then anyway, so its exit at end of input is
        // not a crash to relaunch from.
        process->setTerminationHandler(nullptr);
        if (input) input->close();
        return;
    }
    lock.unlock();
    runtime_.logState(QStringLiteral("finishColiStream coli not running, skipping drain wait"));
    TaskHandle handle = drainQueue.postAfter(Duration(0), std::move(item));
    lock.lock();
    if (channel_.finalizeDrainToken == token) channel_.finalizeDrainWorkItem = handle;
}

void SpeechStream::completeColiDrain(std::optional<QUuid> session, QUuid token,
                                     const std::function<void()>& completion) {
    runtime_.logState(QStringLiteral("finishColiStream drainComplete session=") + optionalSessionText(session));
    {
        // After any transcript still being handed over: the completion then sees all of them.
        std::lock_guard delivery(deliveryLock_);
        std::lock_guard lock(channel_.processLock);
        if (channel_.finalizeDrainToken != token) return;
        channel_.finalizeDrainToken.reset();
        channel_.finalizeDrainWorkItem = {};
        if (channel_.activeColiSessionID == session) closeSessionLocked();
    }
    if (completion) runtime_.main.post(completion);
    process_.terminateColiProcess();
    if (hooks_.afterDrain) hooks_.afterDrain();
}

void SpeechStream::resetForStart() {
    std::lock_guard lock(channel_.processLock);
    channel_.pendingAudioBuffer.clear();
    channel_.coliReady = false;
    channel_.sessionRecording = false;
    channel_.finalizeDrainWorkItem.cancel();
    channel_.finalizeDrainWorkItem = {};
    channel_.finalizeDrainToken.reset();
    pcmBytesSent_ = 0;
    pcmBytesBuffered_ = 0;
}

void SpeechStream::abandonSession() {
    std::lock_guard delivery(deliveryLock_);
    std::lock_guard lock(channel_.processLock);
    closeSessionLocked();
}

void SpeechStream::resetForRecovery() {
    std::lock_guard delivery(deliveryLock_);
    std::lock_guard lock(channel_.processLock);
    channel_.finalizeDrainWorkItem.cancel();
    channel_.finalizeDrainWorkItem = {};
    channel_.finalizeDrainToken.reset();
    closeSessionLocked();
}

}  // namespace vocalynx
