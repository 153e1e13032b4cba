#pragma once
// The tests' one way into the speech engine: its internal steps (called as the engine's own threads
// call them) and the few fields a test must stage or read. Everything else goes through the engine's
// public members and the fakes behind its ports (sessions are taken from the fake capture system,
// the microphone is readied, heard and failed through the fake session, the speech program speaks
// through the fake process). What stays here has no port that shows it; each group says why.

#include <memory>

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
    // A cancel (the no-speech rule and the startup watchdog ask for it), asked for once or twice
    // before it runs, without staging seconds of silence.
    void requestCancelRecording() { engine.requestCancelRecording(); }

    // ---- speech process and transcripts ----
    // A process that arrives while a recording keeps audio for it: the entry points launch one
    // only at a start, a drain, a recovery or the warm-up, never in the middle of a recording.
    void terminateColiProcess() { engine.terminateColiProcess(); }
    // Whether the transcript rules saw every line: no port shows the stable-preview count itself.
    TranscriptTracker::Snapshot transcriptSnapshot() const { return engine.transcriptSnapshot(); }
    // The shared channel fields a recovery must clear (staged before it, read after it).
    ColiChannel& channel() { return engine.channel_; }
};

}  // namespace vocalynx
