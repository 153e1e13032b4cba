// Placeholder definitions of the capture side; replaced by the capture pipeline.
#include "engine/WhisperEngine.h"

namespace vocalynx {

void WhisperEngine::prepareCaptureSession() {}
void WhisperEngine::discardPreparedSession() {}
void WhisperEngine::tearDownCaptureSession(std::shared_ptr<CaptureSession> session) {
    sessionQueue_->post([session = std::move(session)] { session->tearDown(); });
}

std::shared_ptr<CaptureSession> WhisperEngine::makeCaptureSession() { return nullptr; }
void WhisperEngine::installCaptureSessionObservers(const std::shared_ptr<CaptureSession>&) {}
void WhisperEngine::removeCaptureSessionObservers() {}
void WhisperEngine::handleSampleBuffer(const SampleBuffer&) {}
void WhisperEngine::evaluateAudioLevel(const SampleBuffer&, MonoTime) {}
void WhisperEngine::noteSpeechActivity(MonoTime) {}

}  // namespace vocalynx
