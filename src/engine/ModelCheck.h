#pragma once
#include <QString>

namespace vocalynx {

// The SenseVoice model the speech program recognises with, under the user's home folder: the
// model's folder in ~/.coli/models, and the file in it whose size tells that the model is there.
inline constexpr const char* kSpeechModelFolderName = "sherpa-onnx-sense-voice-zh-en-ja-ko-yue-int8-2024-07-17";
inline constexpr const char* kSpeechModelCheckFile = "model.int8.onnx";
// The smallest size (bytes) of the check file that counts as the model; a smaller one is missing.
inline constexpr unsigned long long kSpeechModelMinimumSize = 200'000'000ULL;

// home + "/.coli/models": where the speech program keeps its models.
QString speechModelsFolder(const QString& home);
// The model file itself: speechModelsFolder + "/" + kSpeechModelFolderName + "/" + kSpeechModelCheckFile.
QString speechModelPath(const QString& home);
// Installed when the file exists and holds at least kSpeechModelMinimumSize bytes; any error counts
// as missing.
bool isSpeechModelInstalled(const QString& home);

}  // namespace vocalynx
