#pragma once
// One dictation is one recogniser session on the persistent speech process: audio goes to the
// process's standard input (or waits while no process is ready), its standard output is cut into
// lines whose transcripts go to the main queue, and a stop waits 0.8 s for trailing output before
// the process is restarted and the post-recording step runs.

#include <atomic>
#include <functional>
#include <memory>

#include "engine/ColiChannel.h"
#include "engine/SpeechProcess.h"
#include "platform/Runtime.h"

namespace vocalynx {

class SpeechStream {
public:
    struct Hooks {
        std::function<void(const QString& text)> deliverTranscript;  // runs on the main queue
        std::function<void()> afterDrain;                            // runs on the drain's queue
    };

    static constexpr double drainSeconds = 0.8;

    SpeechStream(Runtime& runtime, ColiChannel& channel, SpeechProcess& process, const ColiLocator& locator,
                 Hooks hooks);
    ~SpeechStream();
    SpeechStream(const SpeechStream&) = delete;
    SpeechStream& operator=(const SpeechStream&) = delete;

    // Main thread.
    void beginColiSession();
    // Audio queue: one non-empty chunk of 16 kHz mono s16le audio.
    void sendPCM(const QByteArray& chunk);
    // Output bytes of the process; without a session identifier they go to the open session.
    void handleColiOutput(const QByteArray& bytes, std::optional<QUuid> session = std::nullopt);
    // Main thread: stop writing audio, wait for trailing output, then run the completion on the
    // main queue, restart the process and call afterDrain.
    void finishColiStream(std::function<void()> completion);

    // A new recording: pending audio dropped, no direct writes, no drain outstanding, counters zero.
    void resetForStart();
    // The recording was cancelled: the session is abandoned; the process keeps running.
    void abandonSession();
    // Stall recovery: no drain, no session.
    void resetForRecovery();
    // Entering idle: the persistent standard output gets no more reads until the next session.
    void detachOutputReader();

    long long pcmBytesSent() const { return pcmBytesSent_.load(); }
    long long pcmBytesBuffered() const { return pcmBytesBuffered_.load(); }

private:
    void attachOutputReaderLocked();
    void completeColiDrain(std::optional<QUuid> session, QUuid token, const std::function<void()>& completion);

    Runtime& runtime_;
    ColiChannel& channel_;
    SpeechProcess& process_;
    const ColiLocator& locator_;
    Hooks hooks_;
    std::atomic<long long> pcmBytesSent_{0};
    std::atomic<long long> pcmBytesBuffered_{0};
    std::shared_ptr<SpeechStream*> self_;
};

}  // namespace vocalynx
