#pragma once
// The speech engine: one object that owns a dictation from the start request to the final text.
// Everything here runs on the main queue unless a member says otherwise; the audio queue, the
// pipe readers and the drain share the stream fields under processLock.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "core/ConfigStore.h"
#include "core/DictationControl.h"
#include "core/SoundFeedback.h"
#include "core/Types.h"
#include "core/WeakHandle.h"
#include "engine/ColiChannel.h"
#include "engine/ColiCommand.h"
#include "engine/EngineCollaborators.h"
#include "engine/LevelTracker.h"
#include "engine/SpeechProcess.h"
#include "engine/SpeechStream.h"
#include "engine/TranscriptTracker.h"
#include "platform/AudioCapture.h"
#include "platform/ChildProcess.h"
#include "platform/AudioConverter.h"
#include "platform/Runtime.h"

namespace vocalynx {

class WhisperEngine : public QObject, public DictationControl {
    Q_OBJECT

public:
    using RecordingState = vocalynx::RecordingState;

    struct Dependencies {
        Runtime& runtime;
        ConfigStore& config;
        SoundFeedback& sounds;
        SilentPlayerControl* silentPlayer = nullptr;  // may be set later with setSilentPlayer
        MediaPauseControl* media = nullptr;           // may be set later with setMediaService
        AudioCaptureSystem* capture = nullptr;
        AudioConverterFactory* converters = nullptr;  // without it no buffer is converted
        ProcessLauncher* processes = nullptr;  // starts the speech program; none: it is never found
    };

    explicit WhisperEngine(Dependencies deps);
    ~WhisperEngine() override;

    void setSilentPlayer(SilentPlayerControl* player) { silentPlayer_ = player; }
    void setMediaService(MediaPauseControl* media) { media_ = media; }

    // ---- published values ----
    RecordingState state() const override { return state_.load(); }
    QString previewText() const { return previewText_; }
    bool micReady() const { return micReady_; }
    // Whether the microphone of the current (or last) recording is a pair of AirPods.
    bool microphoneIsAirPods() const { return microphoneIsAirPods_; }
    // Writes the three published values as they are (state, readiness, preview), with no transition,
    // log line or watchdog: the screenshot scene stages a still picture with it.
    void stagePublishedValues(RecordingState state, const QString& previewText, bool micReady);

    // ---- the dictation (main thread; debug builds check it) ----
    void startRecording(Completion onComplete) override;
    void stopRecording() override;
    void handleStopShortcut() override;
    void recoverFromStalledState(RecordingState stalledState, const QString& reason) override;
    // Launches the speech process ahead of the first dictation and prepares a capture session.
    void warmUpColi();
    // Ends the speech process for good (at termination).
    void shutdown();
    const ColiLocator& coliLocator() const { return locator_; }

    // The level of a buffer's samples (root mean square, 0 to 1).
    static float sampleBufferRMS(const SampleBuffer& buffer);

    // The tests' one way to the engine's internal steps and fields (defined with the tests).
    struct TestProbe;

signals:
    void stateChanged(vocalynx::RecordingState state);
    void previewTextChanged(const QString& text);
    void micReadyChanged(bool ready);
    void microphoneChanged();

private:
    // ---- state machine and diagnostics ----
    void setState(RecordingState newState, const QString& reason);
    void armStateStallWatchdog(RecordingState armedState, const QString& reason, double timeoutSeconds);
    void autoDump(const QString& trigger, const QString& detail);
    QString diagnosticsTimestamp() const { return runtime_.timestampNow(); }
    void logStateDiagnostics(const QString& message) const { runtime_.logState(message); }

    // ---- recording road ----
    void requestStopRecording(const QString& reason);
    void requestCancelRecording();
    void cancelRecording();
    void armMicStartupWatchdog();
    // Main thread, after the drain: composes the final text and hands it to the completion.
    void postRecording(Completion completion);

    // ---- capture (audio queue unless noted) ----
    // The microphone to use: a connected device named like AirPods, else the default (the desktop's
    // choice, as the sound server names it); none when there is no device at all.
    std::optional<AudioInputDevice> preferredMicrophone();
    // Main thread, or the drain's background queue (the prepared fields are guarded).
    void prepareCaptureSession();
    void discardPreparedSession();
    // The prepared session when one exists, was built at most preparedSessionMaxAge ago and is for
    // the microphone to use now; it is handed over (the prepared fields become empty). Null
    // otherwise, and the prepared session stays.
    std::shared_ptr<CaptureSession> takePreparedSession();
    void tearDownCaptureSession(std::shared_ptr<CaptureSession> session);
    // Null when no session can be built; deviceId, when given, receives the id of its microphone.
    std::shared_ptr<CaptureSession> makeCaptureSession(QString* deviceId = nullptr);
    // Main thread, or the drain's background queue (the observer list is guarded). Session events
    // are handled on the main queue.
    void installCaptureSessionObservers(const std::shared_ptr<CaptureSession>& session);
    void removeCaptureSessionObservers();
    // Main thread: a runtime error or an interruption (the microphone went away) stops a recording,
    // so that what was recognised is still typed; every event is logged.
    void handleCaptureSessionEvent(const CaptureSessionEvent& event);
    void stopForLostMicrophone(const QString& cause);
    // The sample-buffer callback; attach it to a session's output with attachSampleBufferHandler.
    void handleSampleBuffer(const SampleBuffer& buffer);
    void attachSampleBufferHandler(CaptureSession& session);  // main
    // The buffer in the speech format (16 kHz mono s16le), or none when it cannot be converted.
    std::optional<QByteArray> convertSampleBuffer(const SampleBuffer& buffer);
    // Drops the converter (start, stop, cancel): done on the audio queue, after any buffer still in
    // hand there, so that a buffer in flight never sees the converter go away under it.
    void resetAudioConverter();
    // Main thread, at stop, after the stop flag is set and before the converter's reset is queued:
    // sends what the converter's filter still holds, so that the last syllable reaches the
    // recogniser. A reset queued earlier could run first and take the tail with it.
    void flushAudioConverter();
    void markMicReady(float rms, double elapsed);  // main
    void markMicReadyFailsafe(double elapsed);     // main

    // ---- level tracking and automatic stop ----
    void evaluateAudioLevel(const SampleBuffer& buffer, MonoTime now);
    void updateNoiseFloor(float level);
    // Takes levelLock_ itself: call it without holding the lock.
    void noteSpeechActivity(MonoTime at);

    // ---- speech stream ----
    // Writes converted audio (16 kHz mono s16le) to the speech process, or keeps it pending.
    void sendPCM(const QByteArray& pcm);

    // ---- transcripts ----
    // One transcript from the speech stream, on its reader (one at a time, in order). The rules run
    // here for every line; the panel's preview is handed to the main queue with at most one
    // hand-off pending, which publishes the newest preview.
    void handleTranscript(const QString& text);
    bool hasTranscriptText() const { return transcripts_.hasTranscriptText(); }
    // Any thread: the transcript fields in one consistent view (for the level evaluation).
    TranscriptTracker::Snapshot transcriptSnapshot() const { return transcripts_.snapshot(); }

    // ---- voice model ----
    bool isSpeechModelInstalled() const;
    // Any thread: tells the application once per run that the model failed to load.
    void reportModelUnavailable();
    // Main thread: whether the speech program runs now or is found where it is looked for.
    bool isSpeechProgramAvailable();
    // Any thread: tells the application (on the main queue) that the speech program cannot be used.
    void reportSpeechProgramTrouble(const SpeechProgramTrouble& trouble);

    // ---- speech process ----
    void terminateColiProcess();

    // ---- tuning values, fixed at construction (the level tracking's are LevelTracker's) ----
    const double maxRecordingDuration = 60;
    const double preparedSessionMaxAge = 15;
    const int transcriptTailJitterTolerance = 2;

    // Publishing setters (main thread): store and notify observers.
    void setPreviewText(const QString& text);
    void setMicReady(bool ready);

    void resumePlayers();
    // Ends the recording's capture: cancels the 60 s limit and the microphone watchdog, drops the
    // session observers, detaches and tears down the capture session and drops the converter. A
    // stop keeps the converter's tail: it is sent before the converter's reset is queued.
    enum class ConverterTail { send, drop };
    void endCapture(ConverterTail tail);

    // Wraps work for the main queue so that it runs only while the engine still exists.
    template <typename F>
    Task weakTask(F work) {
        return weak_.bind(std::move(work));
    }
    // A delayed step of the current dictation: it runs only while the engine exists and no newer
    // dictation (or a recovery) has begun since it was scheduled.
    template <typename F>
    Task dictationStep(F work) {
        return weakTask([generation = dictationGeneration_.load(), work = std::move(work)](WhisperEngine& engine) mutable {
            if (engine.dictationGeneration_.load() == generation) work(engine);
        });
    }
    // Main thread: the panel gets the tracker's newest preview.
    void publishPreview();

    Runtime& runtime_;
    ConfigStore& config_;
    SoundFeedback& sounds_;
    SilentPlayerControl* silentPlayer_;
    MediaPauseControl* media_;
    AudioCaptureSystem* capture_;

    // Delayed work and callbacks reach the engine through it: they do nothing once the engine is
    // gone, and the engine's destruction waits for a callback in progress on another thread (the
    // audio queue, the pipe readers, the reaper, the drain). Declared before the parts whose
    // callbacks it guards.
    WeakFactory<WhisperEngine> weak_;

    // ---- published ----
    std::atomic<RecordingState> state_{RecordingState::idle};
    QString previewText_;
    bool micReady_ = false;

    // ---- recording ----
    std::shared_ptr<CaptureSession> captureSession_;
    Completion onComplete_;
    std::shared_ptr<SerialQueue> audioQueue_;
    bool audioDebugLoggingEnabled_ = false;
    TaskHandle recordingTimeoutTimer_;
    std::shared_ptr<SerialQueue> sessionQueue_;
    TaskHandle micStartupWatchdog_;
    TaskHandle stateStallWatchdog_;
    // The prepared session and the observed sessions are touched from the main thread and the
    // drain's background queue: both under captureLock_ (taken briefly, never with another lock).
    std::mutex captureLock_;
    std::shared_ptr<CaptureSession> preparedSession_;
    std::optional<MonoTime> preparedSessionBuiltAt_;
    QString preparedSessionDevice_;  // the id of the prepared session's microphone
    std::vector<std::shared_ptr<CaptureSession>> captureSessionObservers_;
    // Used on the audio queue, and by the flush at stop on the main thread: under converterLock_,
    // which is held from a buffer's conversion to its sending, so that the flushed tail follows
    // the last buffer in the stream.
    std::mutex converterLock_;
    std::unique_ptr<AudioConverter> audioConverter_;
    AudioConverterFactory* converters_;

    // ---- speech process and stream; their shared fields are guarded by channel_.processLock ----
    std::atomic<bool> hasShownModelAlert_{false};
    // What the last choice of microphone found (any thread), and what the panel was last told.
    std::atomic<bool> preferredIsAirPods_{false};
    bool microphoneIsAirPods_ = false;
    ColiChannel channel_;
    ColiLocator locator_;
    SpeechProcess process_;
    SpeechStream stream_;

    // ---- stop and cancel ----
    std::atomic<bool> cancelRequested_{false};  // requests come from the audio queue too
    std::atomic<bool> isStoppingRecording_{false};  // also read on the audio queue
    std::atomic<bool> stopRequestedByVoicePhrase_{false};  // set by the transcript handler
    // Counts dictations (and recoveries): a delayed step scheduled for one does nothing in another.
    std::atomic<unsigned long long> dictationGeneration_{0};
    // A preview hand-off waits on the main queue.
    std::atomic<bool> previewPublishPending_{false};

    // levelLock_ guards the level tracking, the transcript fields below, previewText_,
    // firstAudioTime_, firstPCMSent_ and micReadyAt_: they are shared between the audio queue (readiness, level
    // evaluation), the speech stream's reader (the transcript handler) and the main thread (start,
    // stop, the requests, the published preview). Writers take it around each whole update; the
    // main thread may read previewText_ (written only there) without it. Never held together with
    // processLock_ or captureLock_, and never while calling the stop or cancel requests.
    mutable std::recursive_mutex levelLock_;

    // ---- level tracking: silenceStart, hasSpeechStarted, speechStartAt, lastSpeechDetectedAt,
    // smoothedRMS, adaptiveNoiseFloor (levelTracker_.reset() at start and stop,
    // levelTracker_.resetSpeech() in the stop and cancel requests) ----
    LevelTracker levelTracker_;

    // ---- transcripts: the tracker locks its own fields; updates also hold levelLock_ (taken first) ----
    TranscriptTracker transcripts_;

    // ---- audio counters ----
    std::optional<MonoTime> firstAudioTime_;
    bool firstPCMSent_ = false;  // the recording's first chunk went to the speech stream
    std::optional<MonoTime> micReadyAt_;
};

}  // namespace vocalynx
