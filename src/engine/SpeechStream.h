#pragma once
// One dictation is one recogniser session on the persistent speech process: audio goes to the
// process's standard input (or waits while no process is ready), its standard output is cut into
// lines whose transcripts go to the transcript handler, and a stop closes the process's input and
// waits 0.8 s for trailing output before the process is replaced and the post-recording step runs.
//
// No transcript of one dictation reaches another: audio belongs to the session that was recording
// when it arrived and is dropped once that session stops or is cancelled; every process gets a
// reader from its launch on, which drops output that arrives while the process serves no open
// session (so nothing waits in the pipe for the next session); and a process that heard a session is
// never given to the next one (the road replaces it after a stop, a cancel and a recovery).
//
// A process that dies while its session records is replaced by the relaunch; the relaunched process
// takes the session over: it gets the audio kept in the meantime, then the rest, and its output is
// read for the session.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "core/WeakHandle.h"
#include "engine/ColiChannel.h"
#include "engine/SpeechProcess.h"
#include "platform/Runtime.h"

namespace vocalynx {

class SpeechStream {
public:
    struct Hooks {
        // One transcript of the open session. Runs on the thread that read it (a pipe reader), one
        // call at a time and in order, never with processLock held.
        std::function<void(const QString& text)> deliverTranscript;
        // The open session has moved to a relaunched process: what follows is recognised anew.
        // Runs like deliverTranscript, between the old process's transcripts and the new one's.
        std::function<void()> sessionMovedToNewProcess;
        std::function<void()> afterDrain;  // runs on the drain's queue
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
    // Output bytes of a process. Without a session identifier they go to the open session; with a
    // process (the reader's) only while that process serves the open session.
    void handleColiOutput(const QByteArray& bytes, std::optional<QUuid> session = std::nullopt,
                          const std::shared_ptr<ChildProcess>& from = nullptr);
    // Main thread: stop taking audio, close the process's input (a recogniser finishes its last
    // segment there), read its output for the drain time, then run the completion on the main
    // queue, replace the process and call afterDrain.
    void finishColiStream(std::function<void()> completion);

    // A process was launched and stored as the persistent one (launching thread): it gets the
    // stream's output reader, and takes over the recording session when that has no live process.
    void processLaunched(const std::shared_ptr<ChildProcess>& process);
    // The persistent process died by itself (reaper thread): a session it served keeps its audio
    // until the relaunched process takes it over.
    void processExited(const ChildProcess* process);

    // A new recording: no audio kept, no direct writes, no drain outstanding, counters zero.
    void resetForStart();
    // The recording was cancelled or could not start: the session and its audio are dropped.
    void abandonSession();
    // Stall recovery: no drain, no session, no audio.
    void resetForRecovery();

    long long pcmBytesSent() const { return pcmBytesSent_.load(); }
    long long pcmBytesBuffered() const { return pcmBytesBuffered_.load(); }

private:
    // Binds the session to the process (processLock held), without direct writes yet.
    void bindSessionLocked(const std::shared_ptr<ChildProcess>& process);
    // Writes the kept audio to the session's process in order, then lets sendPCM write directly.
    void flushPendingAudio(const std::shared_ptr<ChildProcess>& process);
    void closeSessionLocked();
    void completeColiDrain(std::optional<QUuid> session, QUuid token, const std::function<void()>& completion);

    Runtime& runtime_;
    ColiChannel& channel_;
    SpeechProcess& process_;
    const ColiLocator& locator_;
    Hooks hooks_;
    // Held by the reader for a whole chunk (cutting its lines and handing each transcript over), and
    // by every change of the session (binding, drain end, cancel, recovery), so that a session ends
    // only after the transcripts read for it have been handled. Taken before processLock.
    std::mutex deliveryLock_;
    std::atomic<long long> pcmBytesSent_{0};
    std::atomic<long long> pcmBytesBuffered_{0};
    // The output reader and the drain (pipe and pool threads) reach this object through it: they
    // do nothing once it is gone, and its destruction waits for one in progress.
    WeakFactory<SpeechStream> weak_;
};

}  // namespace vocalynx
