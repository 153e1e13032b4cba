#include "engine/ModelCheck.h"

#include <sys/stat.h>

namespace vocalynx {

QString speechModelPath(const QString& home) {
    return home + QStringLiteral("/.coli/models/sherpa-onnx-sense-voice-zh-en-ja-ko-yue-int8-2024-07-17/model.int8.onnx");
}

bool isSpeechModelInstalled(const QString& home) {
    struct stat info{};
    if (::stat(speechModelPath(home).toLocal8Bit().constData(), &info) != 0) return false;
    return static_cast<unsigned long long>(info.st_size) > 199'999'999ULL;
}

}  // namespace vocalynx
