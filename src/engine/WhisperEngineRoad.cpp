// Placeholder definitions of the recording road; replaced by the full road.
#include "engine/WhisperEngine.h"

namespace vocalynx {

void WhisperEngine::startRecording(Completion) {}
void WhisperEngine::stopRecording() {}
void WhisperEngine::handleStopShortcut() {}
void WhisperEngine::requestStopRecording(const QString&) {}
void WhisperEngine::requestCancelRecording() {}
void WhisperEngine::cancelRecording() {}
void WhisperEngine::warmUpColi() {}
void WhisperEngine::shutdown() {}
void WhisperEngine::terminateColiProcess() {}
void WhisperEngine::onIdleDetachOutputReader() {}
void WhisperEngine::sendPCM(const QByteArray&) {}
bool WhisperEngine::hasTranscriptText() const { return false; }

}  // namespace vocalynx
