#pragma once
#include <QString>

namespace vocalynx {

// The SenseVoice model file the speech program recognises with, under the user's home folder.
QString speechModelPath(const QString& home);
// Installed when the file exists and holds at least 200,000,000 bytes; any error counts as missing.
bool isSpeechModelInstalled(const QString& home);

}  // namespace vocalynx
