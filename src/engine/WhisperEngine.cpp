#include "engine/WhisperEngine.h"

#include "core/Text.h"

namespace vocalynx {

WhisperEngine::WhisperEngine(Dependencies deps)
    : runtime_(deps.runtime),
      config_(deps.config),
      sounds_(deps.sounds),
      silentPlayer_(deps.silentPlayer),
      media_(deps.media),
      capture_(deps.capture),
      weak_(this, &deps.runtime.main, "WhisperEngine"),
      audioQueue_(deps.runtime.queues.makeSerialQueue("com.vocalynx.audiodata")),
      sessionQueue_(deps.runtime.queues.makeSerialQueue("com.vocalynx.capture.session")),
      converters_(deps.converters),
      locator_(deps.runtime.paths.home, deps.runtime.paths.resources, ColiLocator::processEnvironment(), deps.processes),
      // The parts call back from their threads through the engine's weak reference: once the
      // engine's destruction has begun, nothing reaches the members it tears down.
      process_(deps.runtime, channel_, locator_, deps.processes,
               {[weak = weak_.weak()] { weak.run([](WhisperEngine& e) { e.reportModelUnavailable(); }); },
                [weak = weak_.weak()] {
                    bool shown = false;
                    weak.run([&](WhisperEngine& e) { shown = e.hasShownModelAlert_.load(); });
                    return shown;
                },
                [weak = weak_.weak()](const std::shared_ptr<ChildProcess>& process) {
                    weak.run([&](WhisperEngine& e) { e.stream_.processLaunched(process); });
                },
                [weak = weak_.weak()](const ChildProcess* process) {
                    weak.run([&](WhisperEngine& e) { e.stream_.processExited(process); });
                },
                [weak = weak_.weak()](const QString& program) {
                    weak.run([&](WhisperEngine& e) {
                        e.reportSpeechProgramTrouble({SpeechProgramTrouble::Kind::exitsAtOnce, program, {}});
                    });
                }}),
      stream_(deps.runtime, channel_, process_, locator_,
              {[weak = weak_.weak()](const QString& text) {
                   weak.run([&](WhisperEngine& e) { e.handleTranscript(text); });
               },
               [weak = weak_.weak()] {
                   weak.run([](WhisperEngine& e) {
                       std::lock_guard lock(e.levelLock_);
                       e.transcripts_.beginSegment();
                   });
               },
               [weak = weak_.weak()] { weak.run([](WhisperEngine& e) { e.prepareCaptureSession(); }); }}) {
    qRegisterMetaType<vocalynx::RecordingState>("vocalynx::RecordingState");
}

WhisperEngine::~WhisperEngine() {
    // First: callbacks on other threads finish or do nothing from here on, before any member goes.
    weak_.invalidate();
    stateStallWatchdog_.cancel();
    micStartupWatchdog_.cancel();
    recordingTimeoutTimer_.cancel();
}

void WhisperEngine::setPreviewText(const QString& text) {
    {
        std::lock_guard lock(levelLock_);  // the level evaluation reads it on the audio queue
        previewText_ = text;
    }
    transcripts_.setPreviewText(text);
    emit previewTextChanged(previewText_);
}

void WhisperEngine::stagePublishedValues(RecordingState state, const QString& previewText, bool micReady) {
    assertOnSequence(runtime_.main, "WhisperEngine::stagePublishedValues");
    state_.store(state);
    emit stateChanged(state);
    // Readiness before the words, as in a real dictation: the panel's live row only shows words
    // that arrive after it switched to listening.
    setMicReady(micReady);
    setPreviewText(previewText);
}

void WhisperEngine::setMicReady(bool ready) {
    micReady_ = ready;
    emit micReadyChanged(ready);
}

void WhisperEngine::resumePlayers() {
    if (silentPlayer_) silentPlayer_->resumeSilentPlayer();
    if (media_) media_->resumeAfterRecording();
}

void WhisperEngine::setState(RecordingState newState, const QString& reason) {
    const RecordingState old = state_.load();
    QString message = old == newState
                          ? QStringLiteral("state remains ") + recordingStateName(newState)
                          : QStringLiteral("state ") + recordingStateName(old) + QStringLiteral(" -> ") +
                                recordingStateName(newState);
    message += QStringLiteral(" reason=") + reason;
    logStateDiagnostics(message);
    state_.store(newState);
    emit stateChanged(newState);
    switch (newState) {
        case RecordingState::recording:
            stateStallWatchdog_.cancel();
            stateStallWatchdog_ = {};
            break;
        case RecordingState::transcribing:
            armStateStallWatchdog(RecordingState::transcribing, reason, 20);
            break;
        case RecordingState::collapsing:
            armStateStallWatchdog(RecordingState::collapsing, reason, 6);
            break;
        case RecordingState::idle:
            // The speech process's output keeps being read (and dropped while no session is
            // open), so that nothing waits in its pipe for the next dictation.
            stateStallWatchdog_.cancel();
            stateStallWatchdog_ = {};
            break;
    }
}

void WhisperEngine::armStateStallWatchdog(RecordingState armedState, const QString& reason, double timeoutSeconds) {
    stateStallWatchdog_.cancel();
    stateStallWatchdog_ = runtime_.main.postAfter(
        Duration(timeoutSeconds), weakTask([armedState, reason, timeoutSeconds](WhisperEngine& engine) {
            if (engine.state() != armedState) return;
            engine.autoDump(QStringLiteral("state-stall-") + reason,
                            QStringLiteral("state=") + recordingStateName(armedState) + QStringLiteral(" timeout=") +
                                decimalText(timeoutSeconds) + QStringLiteral("s"));
            engine.recoverFromStalledState(armedState, QStringLiteral("watchdog-") + reason);
        }));
}

void WhisperEngine::autoDump(const QString& trigger, const QString& detail) {
    QString message = QStringLiteral("AUTO_DUMP trigger=") + trigger;
    if (!detail.isEmpty()) message += QLatin1Char(' ') + detail;
    message += QStringLiteral(" state=") + recordingStateName(state()) + QStringLiteral(" micReady=") +
               (micReady_ ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral(" isStopping=") +
               (isStoppingRecording_ ? QStringLiteral("true") : QStringLiteral("false")) +
               QStringLiteral(" previewLen=") + QString::number(characterCount(previewText_));
    logStateDiagnostics(message);
}

void WhisperEngine::recoverFromStalledState(RecordingState stalledState, const QString& reason) {
    assertOnSequence(runtime_.main, "WhisperEngine::recoverFromStalledState");
    logStateDiagnostics(QStringLiteral("recoverFromStalledState state=") + recordingStateName(stalledState) +
                        QStringLiteral(" reason=") + reason);
    ++dictationGeneration_;  // what the stalled dictation still had scheduled does nothing now
    stream_.resetForRecovery();
    std::shared_ptr<CaptureSession> session = std::move(captureSession_);
    captureSession_.reset();
    if (session) tearDownCaptureSession(std::move(session));
    resumePlayers();
    setPreviewText(QString());
    isStoppingRecording_ = false;
    setState(RecordingState::idle, QStringLiteral("recovery-") + reason);
    terminateColiProcess();
    prepareCaptureSession();
}

}  // namespace vocalynx
