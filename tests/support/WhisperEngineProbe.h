#pragma once
// The tests' one way into the speech engine: its internal steps (called as the engine's own threads
// call them) and the few fields a test must stage or read. Everything else goes through the engine's
// public members and the fakes behind its ports (sessions are taken from the fake capture system,
// the microphone is readied, heard and failed through the fake session, the speech program speaks
// through the fake process). What stays here has no port that shows it; each group says why.

#include <memory>
#include <mutex>
#include <optional>

#include "engine/WhisperEngine.h"

namespace vocalynx {

struct WhisperEngine::TestProbe {
    WhisperEngine& engine;

    // ---- state machine and publishing ----
    // The transition rules themselves (lines, repeats, the stall watchdog's arming for any reason
    // text, a stop flag left set before a recovery): the entry points only reach the states with
    // their own reasons and never leave the flag set.
    void setState(RecordingState state, const QString& reason) { engine.setState(state, reason); }
    void setPreviewText(const QString& text) { engine.setPreviewText(text); }
    bool stopping() const { return engine.isStoppingRecording_; }
    void setStopping(bool stopping) { engine.isStoppingRecording_ = stopping; }

    // ---- the road's requests (any thread) ----
    // Two automatic stop requests at once (level and transcript decide on different threads): the
    // level evaluation asks for at most one stop per buffer.
    void requestStopRecording(const QString& reason) { engine.requestStopRecording(reason); }

    // ---- capture ----
    // The prepared session's age and device rules, the observer list and the converter, step by
    // step on the virtual clock and from racing threads: the entry points run these steps only in
    // one order, on the engine's own queues, which the virtual clock runs on the test's thread.
    void giveCaptureSession(std::shared_ptr<CaptureSession> session) { engine.captureSession_ = std::move(session); }
    std::optional<AudioInputDevice> preferredMicrophone() { return engine.preferredMicrophone(); }
    void prepareCaptureSession() { engine.prepareCaptureSession(); }
    void discardPreparedSession() { engine.discardPreparedSession(); }
    std::shared_ptr<CaptureSession> takePreparedSession() { return engine.takePreparedSession(); }
    std::shared_ptr<CaptureSession> makeCaptureSession(QString* deviceId = nullptr) {
        return engine.makeCaptureSession(deviceId);
    }
    void installCaptureSessionObservers(const std::shared_ptr<CaptureSession>& session) {
        engine.installCaptureSessionObservers(session);
    }
    void removeCaptureSessionObservers() { engine.removeCaptureSessionObservers(); }
    void attachSampleBufferHandler(CaptureSession& session) { engine.attachSampleBufferHandler(session); }
    void handleSampleBuffer(const SampleBuffer& buffer) { engine.handleSampleBuffer(buffer); }
    std::optional<QByteArray> convertSampleBuffer(const SampleBuffer& buffer) {
        return engine.convertSampleBuffer(buffer);
    }
    void resetAudioConverter() { engine.resetAudioConverter(); }
    void flushAudioConverter() { engine.flushAudioConverter(); }
    std::optional<MonoTime> micReadyAt() const {
        std::lock_guard lock(engine.levelLock_);
        return engine.micReadyAt_;
    }

    // ---- level tracking ----
    void evaluateAudioLevel(const SampleBuffer& buffer, MonoTime now) { engine.evaluateAudioLevel(buffer, now); }
    void updateNoiseFloor(float level) { engine.updateNoiseFloor(level); }
    void noteSpeechActivity(MonoTime at) { engine.noteSpeechActivity(at); }

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
