#include "engine/SpeechStream.h"

namespace vocalynx {

SpeechStream::SpeechStream(Runtime& runtime, ColiChannel& channel, SpeechProcess& process, const ColiLocator& locator,
                           Hooks hooks)
    : runtime_(runtime),
      channel_(channel),
      process_(process),
      locator_(locator),
      hooks_(std::move(hooks)),
      self_(std::make_shared<SpeechStream*>(this)) {}

SpeechStream::~SpeechStream() {
    self_.reset();
    std::lock_guard lock(channel_.processLock);
    channel_.finalizeDrainWorkItem.cancel();
}

void SpeechStream::attachOutputReaderLocked() {
    if (!channel_.persistentColiStdout) return;
    std::weak_ptr<SpeechStream*> weak = self_;
    channel_.persistentColiStdout->setReadHandler([weak](const QByteArray& bytes) {
        if (bytes.isEmpty()) return;
        if (auto self = weak.lock()) (*self)->handleColiOutput(bytes);
    });
}

void SpeechStream::beginColiSession() {
    const QUuid id = QUuid::createUuid();
    std::unique_lock lock(channel_.processLock);
    channel_.activeColiSessionID = id;
    channel_.lineBuffer.clear();
    if (channel_.persistentColiReady) {
        channel_.coliProcess = channel_.persistentColiProcess;
        channel_.coliStdin = channel_.persistentColiStdin;
        channel_.coliReady = true;
        attachOutputReaderLocked();
        std::vector<QByteArray> pending;
        pending.swap(channel_.pendingAudioBuffer);
        std::shared_ptr<PipeWriter> writer = channel_.persistentColiStdin;
        lock.unlock();
        if (writer && !pending.empty()) {
            runtime_.queues.global(QoS::UserInitiated).post([writer, pending = std::move(pending)] {
                for (const QByteArray& chunk : pending) writer->write(chunk);
            });
        }
        runtime_.log.line(QStringLiteral("[Vocalynx] Reusing persistent coli for session ") + sessionText(id));
        return;
    }
    lock.unlock();
    if (!locator_.locateColi()) {
        runtime_.log.line(QStringLiteral("[Vocalynx] coli not found in PATH"));
        return;
    }
    runtime_.log.line(QStringLiteral("[Vocalynx] Persistent coli not ready, launching on-demand..."));
    process_.launchPersistentColi();
    lock.lock();
    channel_.coliProcess = channel_.persistentColiProcess;
    channel_.coliStdin = channel_.persistentColiStdin;
    channel_.coliReady = channel_.persistentColiReady;
    attachOutputReaderLocked();
}

void SpeechStream::sendPCM(const QByteArray& chunk) {
    if (chunk.isEmpty()) return;
    std::unique_lock lock(channel_.processLock);
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

void SpeechStream::handleColiOutput(const QByteArray& bytes, std::optional<QUuid> session) {
    if (bytes.isEmpty()) return;
    std::lock_guard lock(channel_.processLock);
    const std::optional<QUuid> target = session ? session : channel_.activeColiSessionID;
    if (!target || target != channel_.activeColiSessionID) return;
    bool overflowed = false;
    const QList<QByteArray> lines = channel_.lineBuffer.append(bytes, &overflowed);
    if (overflowed)
        runtime_.log.line(QStringLiteral("[Vocalynx] Dropped a coli output line longer than ") +
                          QString::number(ColiLineBuffer::maxLineBytes) + QStringLiteral(" bytes"));
    for (const QByteArray& line : lines) {
        const std::optional<QString> text = transcriptFromLine(line);
        if (!text) continue;
        std::weak_ptr<SpeechStream*> weak = self_;
        runtime_.main.post([weak, text = *text] {
            if (auto self = weak.lock())
                if ((*self)->hooks_.deliverTranscript) (*self)->hooks_.deliverTranscript(text);
        });
    }
}

void SpeechStream::finishColiStream(std::function<void()> completion) {
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
    channel_.coliReady = false;  // audio from now on is kept, not written
    const bool running = channel_.persistentColiProcess && channel_.persistentColiProcess->isRunning();
    std::weak_ptr<SpeechStream*> weak = self_;
    Task item = [weak, fired, session, token, completion = std::move(completion)] {
        {
            std::lock_guard firedLock(fired->mutex);
            if (fired->fired) return;
            fired->fired = true;
        }
        if (auto self = weak.lock()) (*self)->completeColiDrain(session, token, completion);
    };
    Executor& drainQueue = runtime_.queues.global(QoS::Default);
    if (running) {
        channel_.finalizeDrainWorkItem = drainQueue.postAfter(Duration(drainSeconds), std::move(item));
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
        std::lock_guard lock(channel_.processLock);
        if (channel_.finalizeDrainToken != token) return;
        channel_.finalizeDrainToken.reset();
        channel_.finalizeDrainWorkItem = {};
        if (channel_.activeColiSessionID == session) {
            channel_.activeColiSessionID.reset();
            channel_.lineBuffer.clear();
        }
    }
    if (completion) runtime_.main.post(completion);
    process_.terminateColiProcess();
    if (hooks_.afterDrain) hooks_.afterDrain();
}

void SpeechStream::resetForStart() {
    std::lock_guard lock(channel_.processLock);
    channel_.pendingAudioBuffer.clear();
    channel_.coliReady = false;
    channel_.finalizeDrainWorkItem.cancel();
    channel_.finalizeDrainWorkItem = {};
    channel_.finalizeDrainToken.reset();
    pcmBytesSent_ = 0;
    pcmBytesBuffered_ = 0;
}

void SpeechStream::abandonSession() {
    std::lock_guard lock(channel_.processLock);
    channel_.coliProcess.reset();
    channel_.coliStdin.reset();
    channel_.coliReady = false;
    channel_.activeColiSessionID.reset();
    channel_.lineBuffer.clear();
}

void SpeechStream::resetForRecovery() {
    std::lock_guard lock(channel_.processLock);
    channel_.finalizeDrainWorkItem.cancel();
    channel_.finalizeDrainWorkItem = {};
    channel_.finalizeDrainToken.reset();
    channel_.activeColiSessionID.reset();
    channel_.lineBuffer.clear();
    channel_.coliReady = false;
}

void SpeechStream::detachOutputReader() {
    std::shared_ptr<PipeReader> out;
    {
        std::lock_guard lock(channel_.processLock);
        out = channel_.persistentColiStdout;
    }
    if (out) out->setReadHandler(nullptr);
}

}  // namespace vocalynx
