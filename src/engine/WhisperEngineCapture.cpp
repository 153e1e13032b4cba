// The capture side of the engine: choosing the microphone, building and pre-building capture
// sessions, watching them, and handling each sample buffer (readiness, conversion, level).
#include <QStringList>
#include <cmath>
#include <cstring>

#include "core/Text.h"
#include "engine/WhisperEngine.h"

namespace vocalynx {

namespace {
constexpr float kReadyLevel = 0.0001f;
constexpr double kReadyFailsafe = 2.0;
}  // namespace

// ---------------------------------------------------------------- devices and sessions

std::optional<AudioInputDevice> WhisperEngine::preferredMicrophone() {
    if (!capture_) return std::nullopt;
    for (const AudioInputDevice& device : capture_->inputDevices())
        if (device.connected && device.name.toLower().contains(QStringLiteral("airpods"))) {
            preferredIsAirPods_ = true;
            return device;
        }
    preferredIsAirPods_ = false;
    return capture_->defaultInputDevice();
}

std::shared_ptr<CaptureSession> WhisperEngine::makeCaptureSession(QString* deviceId) {
    const std::optional<AudioInputDevice> device = preferredMicrophone();
    if (!device) {
        runtime_.log.line(QStringLiteral("[Vocalynx] No microphone available"));
        return nullptr;
    }
    if (!device->connected) {
        runtime_.log.line(QStringLiteral("[Vocalynx] Microphone ") + device->name +
                          QStringLiteral(" disconnected before input creation"));
        return nullptr;
    }
    QString error;
    std::shared_ptr<CaptureSession> session = capture_->makeSession(*device, error);
    if (!session) {
        runtime_.log.line(QStringLiteral("[Vocalynx] Failed to create capture input: ") + error);
        return nullptr;
    }
    if (deviceId) *deviceId = device->id;
    return session;
}

void WhisperEngine::prepareCaptureSession() {
    const MonoTime now = runtime_.clock.now();
    {
        std::lock_guard lock(captureLock_);
        if (preparedSession_ && preparedSessionBuiltAt_ &&
            secondsBetween(*preparedSessionBuiltAt_, now) <= preparedSessionMaxAge)
            return;
    }
    discardPreparedSession();
    removeCaptureSessionObservers();
    QString deviceId;
    std::shared_ptr<CaptureSession> session = makeCaptureSession(&deviceId);
    if (!session) {
        runtime_.log.line(QStringLiteral("[Vocalynx] Failed to prepare capture session"));
        return;
    }
    std::shared_ptr<CaptureSession> replaced;
    {
        std::lock_guard lock(captureLock_);
        replaced = std::exchange(preparedSession_, session);
        preparedSessionBuiltAt_ = runtime_.clock.now();
        preparedSessionDevice_ = deviceId;
    }
    // Two threads preparing at once: the later session wins, the other one is released.
    if (replaced) tearDownCaptureSession(std::move(replaced));
    runtime_.log.line(QStringLiteral("[Vocalynx] Capture session pre-built"));
}

void WhisperEngine::discardPreparedSession() {
    std::shared_ptr<CaptureSession> session;
    {
        std::lock_guard lock(captureLock_);
        session = std::move(preparedSession_);
        preparedSession_.reset();
        preparedSessionBuiltAt_.reset();
        preparedSessionDevice_.clear();
    }
    if (session) tearDownCaptureSession(std::move(session));
}

std::shared_ptr<CaptureSession> WhisperEngine::takePreparedSession() {
    const MonoTime now = runtime_.clock.now();
    {
        std::lock_guard lock(captureLock_);
        if (!preparedSession_ || !preparedSessionBuiltAt_ ||
            secondsBetween(*preparedSessionBuiltAt_, now) > preparedSessionMaxAge)
            return nullptr;
    }
    // The desktop's default microphone may have changed since the session was built; then the
    // session records the wrong device. Looked up without the lock: it asks the sound server.
    const std::optional<AudioInputDevice> wanted = preferredMicrophone();
    std::lock_guard lock(captureLock_);
    if (!preparedSession_) return nullptr;
    if (!preparedSessionDevice_.isEmpty() && (!wanted || wanted->id != preparedSessionDevice_)) return nullptr;
    preparedSessionBuiltAt_.reset();
    preparedSessionDevice_.clear();
    return std::exchange(preparedSession_, nullptr);
}

void WhisperEngine::tearDownCaptureSession(std::shared_ptr<CaptureSession> session) {
    sessionQueue_->post([session = std::move(session)] { session->tearDown(); });
}

// ---------------------------------------------------------------- session observers

void WhisperEngine::installCaptureSessionObservers(const std::shared_ptr<CaptureSession>& session) {
    removeCaptureSessionObservers();
    // The three observers (runtime error, interruption, interruption ended) share one handler; each
    // event is handled on the main queue while the engine exists.
    session->setEventHandler([weak = weak_.weak()](const CaptureSessionEvent& event) {
        weak.run([&](WhisperEngine& self) {
            self.runtime_.main.post(
                self.weakTask([event](WhisperEngine& engine) { engine.handleCaptureSessionEvent(event); }));
        });
    });
    std::lock_guard lock(captureLock_);
    captureSessionObservers_.push_back(session);
}

void WhisperEngine::handleCaptureSessionEvent(const CaptureSessionEvent& event) {
    switch (event.kind) {
        case CaptureSessionEvent::Kind::runtimeError: {
            const QString text = event.error.isEmpty() ? QStringLiteral("unknown") : event.error;
            logStateDiagnostics(QStringLiteral("captureSession runtimeError error=") + text);
            autoDump(QStringLiteral("capture-runtime-error"), QStringLiteral("error=") + text);
            stopForLostMicrophone(text);
            break;
        }
        case CaptureSessionEvent::Kind::interrupted: {
            QString details = QStringLiteral("no-userInfo");
            if (event.userInfo) {
                QStringList entries;
                for (const auto& [key, value] : *event.userInfo) entries << key + QLatin1Char('=') + value;
                details = entries.join(QStringLiteral(", "));
            }
            logStateDiagnostics(QStringLiteral("captureSession interrupted details=") + details);
            autoDump(QStringLiteral("capture-interrupted"), QStringLiteral("details=") + details);
            stopForLostMicrophone(details);
            break;
        }
        case CaptureSessionEvent::Kind::interruptionEnded:
            logStateDiagnostics(QStringLiteral("captureSession interruptionEnded"));
            break;
    }
}

void WhisperEngine::stopForLostMicrophone(const QString& cause) {
    // The microphone (or the sound server behind it) went away: what was heard so far is still
    // recognised and typed, as at a stop. A cancel would throw the recognised words away.
    if (state() != RecordingState::recording || isStoppingRecording_) return;
    runtime_.log.line(QStringLiteral("[Vocalynx] Microphone went away during recording, stopping: ") + cause);
    stopRecording();
}

void WhisperEngine::removeCaptureSessionObservers() {
    std::vector<std::shared_ptr<CaptureSession>> observed;
    {
        std::lock_guard lock(captureLock_);
        observed.swap(captureSessionObservers_);
    }
    for (const auto& session : observed) session->setEventHandler(nullptr);
}

// ---------------------------------------------------------------- sample buffers

void WhisperEngine::attachSampleBufferHandler(CaptureSession& session) {
    session.setSampleBufferHandler(
        [weak = weak_.weak()](const SampleBuffer& buffer) {
            weak.run([&](WhisperEngine& self) { self.handleSampleBuffer(buffer); });
        },
        audioQueue_.get());
}

void WhisperEngine::handleSampleBuffer(const SampleBuffer& buffer) {
    if (state() != RecordingState::recording || isStoppingRecording_.load()) return;
    {
        std::lock_guard lock(levelLock_);
        if (!micReadyAt_) {
            // Measured here only while readiness is undecided; the level evaluation measures again.
            const float level = sampleBufferRMS(buffer);
            const MonoTime now = runtime_.clock.now();
            if (!firstAudioTime_) firstAudioTime_ = now;
            const double elapsed = secondsBetween(*firstAudioTime_, now);
            if (level > kReadyLevel) {
                micReadyAt_ = now;
                runtime_.main.post(weakTask([level, elapsed](WhisperEngine& e) { e.markMicReady(level, elapsed); }));
            } else if (elapsed > kReadyFailsafe) {
                micReadyAt_ = now;
                runtime_.main.post(weakTask([elapsed](WhisperEngine& e) { e.markMicReadyFailsafe(elapsed); }));
            } else {
                return;  // not ready yet: neither converted, nor sent, nor evaluated
            }
        }
    }
    {
        // A stop that came in meanwhile has flushed the converter: this buffer is late.
        std::lock_guard lock(converterLock_);
        if (!isStoppingRecording_.load())
            if (std::optional<QByteArray> bytes = convertSampleBuffer(buffer)) sendPCM(*bytes);
    }
    evaluateAudioLevel(buffer, runtime_.clock.now());
}

std::optional<QByteArray> WhisperEngine::convertSampleBuffer(const SampleBuffer& buffer) {
    const AudioInputFormat format = AudioInputFormat::of(buffer);
    if (!audioConverter_ || audioConverter_->inputFormat() != format) {
        // A new input format (another device): a fresh converter from it.
        audioConverter_.reset();
        if (!converters_) return std::nullopt;
        audioConverter_ = converters_->makeConverter(format);
        if (!audioConverter_) return std::nullopt;
    }
    if (buffer.frameCount <= 0 || buffer.bytes.isEmpty()) return std::nullopt;
    return audioConverter_->convert(buffer);
}

void WhisperEngine::resetAudioConverter() {
    // On the audio queue, not the main one: the reference is used there with run, not bind.
    audioQueue_->post([weak = weak_.weak()] {
        weak.run([](WhisperEngine& engine) {
            std::lock_guard lock(engine.converterLock_);
            engine.audioConverter_.reset();
        });
    });
}

void WhisperEngine::flushAudioConverter() {
    std::lock_guard lock(converterLock_);
    if (!audioConverter_) return;
    if (std::optional<QByteArray> tail = audioConverter_->flush()) sendPCM(*tail);
}

float WhisperEngine::sampleBufferRMS(const SampleBuffer& buffer) {
    const char* data = buffer.bytes.constData();
    const qsizetype size = buffer.bytes.size();
    double sum = 0;
    qsizetype count = 0;
    if (buffer.format == SampleFormat::float32) {
        count = size / 4;
        for (qsizetype i = 0; i < count; ++i) {
            float x;
            std::memcpy(&x, data + i * 4, 4);
            sum += static_cast<double>(x) * x;
        }
    } else {
        count = size / 2;
        for (qsizetype i = 0; i < count; ++i) {
            qint16 v;
            std::memcpy(&v, data + i * 2, 2);
            const double x = v / 32767.0;
            sum += x * x;
        }
    }
    if (count == 0) return 0;
    return std::sqrt(static_cast<float>(sum / static_cast<double>(count)));
}

void WhisperEngine::markMicReady(float rms, double elapsed) {
    micStartupWatchdog_.cancel();
    micStartupWatchdog_ = {};
    logStateDiagnostics(QStringLiteral("micReady rms=") + QString::asprintf("%.5f", rms) + QStringLiteral(" elapsed=") +
                        QString::asprintf("%.3f", elapsed) + QStringLiteral("s"));
    setMicReady(true);
}

void WhisperEngine::markMicReadyFailsafe(double elapsed) {
    micStartupWatchdog_.cancel();
    micStartupWatchdog_ = {};
    logStateDiagnostics(QStringLiteral("micReady failsafe elapsed=") + QString::asprintf("%.3f", elapsed) +
                        QStringLiteral("s"));
    setMicReady(true);
}

// ---------------------------------------------------------------- level tracking

void WhisperEngine::evaluateAudioLevel(const SampleBuffer& buffer, MonoTime now) {
    LevelTracker::Decision decision;
    {
        std::lock_guard lock(levelLock_);
        if (LevelTracker::inWarmUp(micReadyAt_, now)) return;
        const TranscriptTracker::Snapshot snapshot = transcripts_.snapshot();
        const TranscriptActivity transcript{snapshot.hasTranscriptText, snapshot.lastTranscriptUpdateAt,
                                            snapshot.lastDistinctTranscriptAt, snapshot.stablePreviewCount};
        decision = levelTracker_.evaluate(sampleBufferRMS(buffer), now, *micReadyAt_, transcript);
    }
    // The requests take the lock themselves and hand the stop or cancel to the main queue.
    switch (decision.kind) {
        case LevelTracker::Decision::Kind::none:
            break;
        case LevelTracker::Decision::Kind::stop:
            requestStopRecording(decision.reason);
            break;
        case LevelTracker::Decision::Kind::cancel:
            runtime_.log.line(QStringLiteral("[Vocalynx] No speech detected within ") + decimalText(LevelTracker::kNoSpeechLimit) +
                              QStringLiteral("s, cancelling recording"));
            requestCancelRecording();
            break;
    }
}

void WhisperEngine::updateNoiseFloor(float level) {
    std::lock_guard lock(levelLock_);
    levelTracker_.updateNoiseFloor(level);
}

void WhisperEngine::noteSpeechActivity(MonoTime at) {
    std::lock_guard lock(levelLock_);
    levelTracker_.noteSpeechActivity(at, hasTranscriptText());
}

}  // namespace vocalynx
