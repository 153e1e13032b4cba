#pragma once
// The tests' one way into the speech engine: its internal steps (called as the engine's own threads
// call them) and the few fields a test must stage or read. Everything else goes through the engine's
// public members and the fakes behind its ports (sessions are taken from the fake capture system,
// the microphone is readied, heard and failed through the fake session, the speech program speaks
// through the fake process). What stays here has no port that shows it; each group says why.

#include <memory>
#include <mutex>

#include "engine/WhisperEngine.h"

namespace vocalynx {

struct WhisperEngine::TestProbe {
    WhisperEngine& engine;

    // ---- state machine ----
    // The transition rules themselves (lines, repeats, the stall watchdog's arming for any reason
    // text, a stop flag left set before a recovery): the entry points only reach the states with
    // their own reasons and never leave the flag set.
    void setState(RecordingState state, const QString& reason) { engine.setState(state, reason); }
    bool stopping() const { return engine.isStoppingRecording_; }
    void setStopping(bool stopping) { engine.isStoppingRecording_ = stopping; }
    // A recording's session for a recovery staged without a dictation.
    void giveCaptureSession(std::shared_ptr<CaptureSession> session) { engine.captureSession_ = std::move(session); }

    // ---- the road's requests (any thread) ----
    // Two automatic stop requests at once (level and transcript decide on different threads): the
    // level evaluation asks for at most one stop per buffer.
    void requestStopRecording(const QString& reason) { engine.requestStopRecording(reason); }

    // ---- speech process, stream and transcripts ----
    // Audio written and transcript fields read from threads of the test's own (the virtual clock
    // runs the audio queue on the test's thread), the stream's finish and output steps called out
    // of turn, and the shared channel fields a dictation leaves behind.
    void sendPCM(const QByteArray& pcm) { engine.sendPCM(pcm); }
    void terminateColiProcess() { engine.terminateColiProcess(); }
    bool hasTranscriptText() const { return engine.hasTranscriptText(); }
    TranscriptTracker::Snapshot transcriptSnapshot() const { return engine.transcriptSnapshot(); }
    SpeechStream& stream() { return engine.stream_; }
    SpeechProcess& speechProcess() { return engine.process_; }
    ColiChannel& channel() { return engine.channel_; }
};

}  // namespace vocalynx
