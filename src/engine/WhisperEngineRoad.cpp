// The road of one dictation: start, stop, cancel, the post-recording step and the collapse back to
// idle, the warm-up at launch and the shutdown at termination; and the engine's side of the speech
// stream, the transcripts and the voice-model check.
#include <QDir>

#include "core/Text.h"
#include "engine/ColiPid.h"
#include "engine/ModelCheck.h"
#include "engine/TranscriptRules.h"
#include "engine/WhisperEngine.h"

namespace vocalynx {

namespace {
QString fixed4(float value) { return QString::asprintf("%.4f", static_cast<double>(value)); }
}  // namespace

bool WhisperEngine::isSpeechModelInstalled() const { return vocalynx::isSpeechModelInstalled(runtime_.paths.home); }

void WhisperEngine::reportModelUnavailable() {
    if (hasShownModelAlert_.exchange(true)) return;
    NotificationCenter& center = runtime_.notifications;
    runtime_.main.post([&center] { center.post(notifications::vocalynxModelLoadFailed); });
}

bool WhisperEngine::isSpeechProgramAvailable() {
    {
        std::lock_guard lock(channel_.processLock);
        if (channel_.persistentColiProcess) return true;
    }
    return locator_.locateColi().has_value();
}

void WhisperEngine::reportSpeechProgramTrouble(const SpeechProgramTrouble& trouble) {
    NotificationCenter& center = runtime_.notifications;
    runtime_.main.post([&center, trouble] { center.post(notifications::speechProgramUnavailable, trouble); });
}

void WhisperEngine::startRecording(Completion onComplete) {
    assertOnSequence(runtime_.main, "WhisperEngine::startRecording");
    // Without the speech program nothing could hear the recording: nothing starts, and the user is
    // told what is missing and where it was looked for.
    if (!isSpeechProgramAvailable()) {
        runtime_.log.line(QStringLiteral("[Vocalynx] coli not found; not recording"));
        reportSpeechProgramTrouble({SpeechProgramTrouble::Kind::notFound, {}, locator_.searchedPlaces()});
        return;
    }
    // Without a voice model nothing starts: the user is told the model is missing.
    if (!isSpeechModelInstalled()) {
        NotificationCenter& center = runtime_.notifications;
        runtime_.main.post([&center] { center.post(notifications::vocalynxModelLoadFailed); });
        return;
    }
    // Reset for the new recording. Delayed steps of an earlier dictation do nothing from now on.
    ++dictationGeneration_;
    setPreviewText(QString());
    resetAudioConverter();
    stream_.resetForStart();
    {
        std::lock_guard lock(levelLock_);
        levelTracker_.reset();
        transcripts_.resetForRecording();
        firstAudioTime_.reset();
        firstPCMSent_ = false;
        micReadyAt_.reset();
    }
    stopRequestedByVoicePhrase_ = false;
    cancelRequested_ = false;
    isStoppingRecording_ = false;
    setMicReady(false);
    // The silent player and other media pause while the microphone records.
    if (silentPlayer_) silentPlayer_->suspendSilentPlayer();
    if (media_) media_->pauseForRecording();
    // Recording from here on; the speech process opens a session for it.
    setState(RecordingState::recording, QStringLiteral("startRecording"));
    stream_.beginColiSession();
    // The capture session prepared ahead when it is at most 15 s old, else a fresh one.
    std::shared_ptr<CaptureSession> session = takePreparedSession();
    const bool reused = session != nullptr;
    if (!session) {
        discardPreparedSession();
        session = makeCaptureSession();
    }
    // No microphone: back to idle, the players resume.
    if (!session) {
        runtime_.log.line(QStringLiteral("[Vocalynx] Failed to get microphone input"));
        stream_.abandonSession();  // the process heard nothing: it stays for the next dictation
        setState(RecordingState::idle, QStringLiteral("startRecordingFailed"));
        resumePlayers();
        return;
    }
    // Samples go to the audio queue; the session's errors and interruptions reach the main queue.
    attachSampleBufferHandler(*session);
    installCaptureSessionObservers(session);
    captureSession_ = session;
    onComplete_ = std::move(onComplete);
    // The panel names the microphone it waits for only when it is a pair of AirPods.
    if (microphoneIsAirPods_ != preferredIsAirPods_.load()) {
        microphoneIsAirPods_ = preferredIsAirPods_.load();
        emit microphoneChanged();
    }
    // Log the armed pipeline and watch for a microphone that never delivers.
    logStateDiagnostics(QStringLiteral("recording pipeline armed preparedSession=") +
                        (reused ? QStringLiteral("reused") : QStringLiteral("fresh")));
    armMicStartupWatchdog();
    runtime_.log.line(QStringLiteral("[Vocalynx] Starting capture session"));
    // Start on the capture-session queue; the result comes back to the main queue.
    std::weak_ptr<CaptureSession> weakSession = session;
    MainQueue& main = runtime_.main;
    sessionQueue_->post([weakSession, weakEngine = weak_.weak(), &main] {
        auto started = weakSession.lock();
        // On the session queue the engine's existence is only looked at (with run): the start
        // itself may take long, and the engine's destruction must not wait for it.
        if (!started || !weakEngine.run([](WhisperEngine&) {})) return;
        started->startRunning();
        const bool running = started->isRunning();
        main.post([weakSession, weakEngine, running] {
            WhisperEngine* self = weakEngine.get();
            auto s = weakSession.lock();
            if (!self || !s) return;
            WhisperEngine& engine = *self;
            if (engine.captureSession_ != s) return;
            if (running) {
                engine.runtime_.log.line(QStringLiteral("[Vocalynx] Recording started"));
            } else {
                engine.runtime_.log.line(QStringLiteral("[Vocalynx] Capture session failed to start"));
                engine.cancelRecording();
            }
        });
    });
    // A recording that reaches its time limit is stopped by force.
    recordingTimeoutTimer_.cancel();
    recordingTimeoutTimer_ = runtime_.main.postAfter(Duration(maxRecordingDuration), dictationStep([](WhisperEngine& engine) {
        if (engine.state() != RecordingState::recording) return;
        engine.runtime_.log.line(QStringLiteral("[Vocalynx] Recording timeout reached (") +
                                 decimalText(engine.maxRecordingDuration) + QStringLiteral("s), force stopping"));
        engine.stopRecording();
    }));
}

void WhisperEngine::armMicStartupWatchdog() {
    micStartupWatchdog_.cancel();
    micStartupWatchdog_ = runtime_.main.postAfter(Duration(4.0), dictationStep([](WhisperEngine& engine) {
        if (engine.state() != RecordingState::recording || engine.isStoppingRecording_ || engine.micReady_) return;
        engine.runtime_.log.line(QStringLiteral("[Vocalynx] Mic startup watchdog fired; cancelling stuck recording"));
        engine.autoDump(QStringLiteral("mic-startup-watchdog"), QString());
        engine.requestCancelRecording();
    }));
}

void WhisperEngine::endCapture(ConverterTail tail) {
    recordingTimeoutTimer_.cancel();
    recordingTimeoutTimer_ = {};
    micStartupWatchdog_.cancel();
    micStartupWatchdog_ = {};
    removeCaptureSessionObservers();
    std::shared_ptr<CaptureSession> session = std::move(captureSession_);
    captureSession_.reset();
    if (session) {
        session->setSampleBufferHandler(nullptr, nullptr);
        tearDownCaptureSession(std::move(session));
    }
    if (tail == ConverterTail::send) flushAudioConverter();
    resetAudioConverter();
}

void WhisperEngine::stopRecording() {
    assertOnSequence(runtime_.main, "WhisperEngine::stopRecording");
    // Only a running recording stops, and only once.
    if (state() != RecordingState::recording || isStoppingRecording_) return;
    isStoppingRecording_ = true;
    // Capture ends; the converter's last samples still go to the speech process.
    endCapture(ConverterTail::send);
    // The preview stays: the post-recording step reads it.
    {
        std::lock_guard lock(levelLock_);
        levelTracker_.reset();
        transcripts_.resetTracking();
    }
    stopRequestedByVoicePhrase_ = false;
    // Transcribing: log what was sent and when audio first came, play the stop sound.
    setState(RecordingState::transcribing, QStringLiteral("stopRecording"));
    runtime_.log.line(QStringLiteral("[Vocalynx] Recording stopped. Total PCM sent: ") +
                      QString::number(stream_.pcmBytesSent()) + QStringLiteral(" bytes, buffered: ") +
                      QString::number(stream_.pcmBytesBuffered()) + QStringLiteral(" bytes"));
    std::optional<MonoTime> firstAudio;
    {
        std::lock_guard lock(levelLock_);
        firstAudio = firstAudioTime_;
    }
    if (firstAudio)
        runtime_.log.line(QStringLiteral("[Vocalynx] First audio was ") +
                          decimalText(secondsBetween(*firstAudio, runtime_.clock.now())) + QStringLiteral("s ago"));
    sounds_.play(SoundType::stopRecording);
    // Once the speech process has finished the stream, the post-recording step types the text.
    Completion completion = std::move(onComplete_);
    onComplete_ = nullptr;
    stream_.finishColiStream(dictationStep([completion = std::move(completion)](WhisperEngine& engine) {
        engine.postRecording(completion);
    }));
}

void WhisperEngine::handleStopShortcut() {
    assertOnSequence(runtime_.main, "WhisperEngine::handleStopShortcut");
    if (state() != RecordingState::recording) return;
    runtime_.log.line(QStringLiteral("[Vocalynx] Stop shortcut pressed"));
    stopRecording();
}

void WhisperEngine::requestStopRecording(const QString& reason) {
    {
        std::lock_guard lock(levelLock_);
        runtime_.log.line(QStringLiteral("[Vocalynx] Auto-stopping (reason=") + reason + QStringLiteral(", rms=") +
                          fixed4(levelTracker_.smoothedRMS()) + QStringLiteral(", floor=") +
                          fixed4(levelTracker_.adaptiveNoiseFloor()) + QStringLiteral(")"));
        levelTracker_.resetSpeech();
    }
    runtime_.main.post(dictationStep([](WhisperEngine& engine) {
        engine.logStateDiagnostics(QStringLiteral("requestStopRecording dispatch stop"));
        engine.stopRecording();
    }));
}

void WhisperEngine::requestCancelRecording() {
    if (cancelRequested_.exchange(true)) return;
    runtime_.log.line(QStringLiteral("[Vocalynx] Cancelling recording as no-speech timeout fired (preview='") +
                      transcripts_.previewText() + QStringLiteral("')"));
    {
        std::lock_guard lock(levelLock_);
        levelTracker_.resetSpeech();
    }
    runtime_.main.post(dictationStep([](WhisperEngine& engine) {
        engine.logStateDiagnostics(QStringLiteral("requestCancelRecording dispatch cancel"));
        engine.cancelRecording();
    }));
}

void WhisperEngine::cancelRecording() {
    assertOnSequence(runtime_.main, "WhisperEngine::cancelRecording");
    // Only a running recording is cancelled, and only once.
    if (state() != RecordingState::recording || isStoppingRecording_) return;
    isStoppingRecording_ = true;
    // Capture ends; the converter's leftover samples are dropped.
    endCapture(ConverterTail::drop);
    // The session and its audio are dropped, and the process that heard it is replaced, as after
    // a stop: nothing of this recording reaches the next one.
    stream_.abandonSession();
    terminateColiProcess();
    // Nothing is typed: no completion, no preview; the players resume and the panel collapses.
    onComplete_ = nullptr;
    setPreviewText(QString());
    runtime_.log.line(QStringLiteral("[Vocalynx] Recording cancelled (no speech)"));
    resumePlayers();
    setState(RecordingState::collapsing, QStringLiteral("cancelRecording"));
    // Idle once the collapse has run.
    runtime_.main.postAfter(Duration(0.5), dictationStep([](WhisperEngine& engine) {
        engine.setState(RecordingState::idle, QStringLiteral("cancelCollapseFinished"));
        engine.isStoppingRecording_ = false;
    }));
}

void WhisperEngine::postRecording(Completion completion) {
    assertOnSequence(runtime_.main, "WhisperEngine::postRecording");
    // The final text: the newest text the recogniser delivered (stop phrase removed), not the
    // preview, whose rules may hold back the last characters.
    QString text = transcript::cleanFinalTranscript(transcripts_.finalTranscript());
    if (!transcript::containsLetterOrDigit(text)) text.clear();
    // Log the lengths and resume the players before the text is typed.
    logStateDiagnostics(QStringLiteral("postRecording finalTextLength=") + QString::number(characterCount(text)) +
                        QStringLiteral(" previewLength=") + QString::number(characterCount(previewText_)));
    runtime_.log.line(QStringLiteral("[Vocalynx] Post-recording: injecting text, rebuilding player"));
    resumePlayers();
    // The caller types the text, unless nothing was recognised.
    if (!text.isEmpty()) {
        runtime_.log.line(QStringLiteral("[Vocalynx] Injecting final text: ") + characterPrefix(text, 50) +
                          QStringLiteral("..."));
        if (completion) completion(text);
    } else {
        logStateDiagnostics(QStringLiteral("postRecording finalText empty; skipping injection"));
    }
    // Collapse, then idle.
    MainQueue& main = runtime_.main;
    main.postAfter(Duration(1.5), dictationStep([&main](WhisperEngine& engine) {
        engine.setState(RecordingState::collapsing, QStringLiteral("postRecordingCollapse"));
        main.postAfter(Duration(0.5), engine.dictationStep([](WhisperEngine& e) {
            e.setState(RecordingState::idle, QStringLiteral("collapseFinished"));
            e.isStoppingRecording_ = false;
        }));
    }));
}

void WhisperEngine::warmUpColi() {
    assertOnSequence(runtime_.main, "WhisperEngine::warmUpColi");
    {
        std::lock_guard lock(channel_.processLock);
        if (channel_.persistentColiProcess) return;
    }
    if (!locator_.locateColi()) {
        runtime_.log.line(QStringLiteral("[Vocalynx] coli not found, skipping warm-up"));
        return;
    }
    logStateDiagnostics(QStringLiteral("warmUpColi begin"));
    runtime_.log.line(QStringLiteral("[Vocalynx] Warming up coli (persistent process)..."));
    process_.launchPersistentColi();
    prepareCaptureSession();
}

void WhisperEngine::shutdown() {
    assertOnSequence(runtime_.main, "WhisperEngine::shutdown");
    process_.shutdown();
}

void WhisperEngine::terminateColiProcess() { process_.terminateColiProcess(); }

void WhisperEngine::sendPCM(const QByteArray& pcm) {
    if (pcm.isEmpty()) return;
    bool first = false;
    {
        std::lock_guard lock(levelLock_);
        // The first buffer from the microphone already set the time (before readiness), so the
        // first chunk sent is told by its own flag.
        if (!firstAudioTime_) firstAudioTime_ = runtime_.clock.now();
        first = !firstPCMSent_;
        firstPCMSent_ = true;
    }
    if (first)
        runtime_.log.line(QStringLiteral("[Vocalynx] First PCM chunk: ") + QString::number(pcm.size()) +
                          QStringLiteral(" bytes"));
    stream_.sendPCM(pcm);
}

void WhisperEngine::handleTranscript(const QString& text) {
    const MonoTime now = runtime_.clock.now();
    const QString stopPhrase = config_.stopRecordingVoicePhrase();
    TranscriptTracker::Outcome outcome;
    {
        // One update as the level evaluation sees it: the transcript fields and the speech activity.
        std::lock_guard lock(levelLock_);
        outcome = transcripts_.handleTranscript(text, stopPhrase, micReadyAt_, now, transcriptTailJitterTolerance);
        if (outcome.speechActivity) noteSpeechActivity(now);
    }
    if (outcome.ignored) return;
    // However fast the lines come, one hand-off at a time waits on the main queue.
    if (outcome.previewChanged && !previewPublishPending_.exchange(true))
        runtime_.main.post(weakTask([](WhisperEngine& engine) { engine.publishPreview(); }));
    // One stop request per phrase heard, not one per line that repeats it.
    if (outcome.stopPhraseHeard && !stopRequestedByVoicePhrase_.exchange(true))
        requestStopRecording(QStringLiteral("voice phrase"));
}

void WhisperEngine::publishPreview() {
    previewPublishPending_ = false;
    const QString preview = transcripts_.previewText();
    if (preview == previewText_) return;
    {
        std::lock_guard lock(levelLock_);
        previewText_ = preview;
    }
    emit previewTextChanged(previewText_);
}

}  // namespace vocalynx
