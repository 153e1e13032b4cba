#include "engine/ModelCheck.h"

#include <sys/stat.h>

namespace vocalynx {

QString speechModelsFolder(const QString& home) { return home + QStringLiteral("/.coli/models"); }

QString speechModelPath(const QString& home) {
    return speechModelsFolder(home) + QLatin1Char('/') + QLatin1String(kSpeechModelFolderName) + QLatin1Char('/') +
           QLatin1String(kSpeechModelCheckFile);
}

bool isSpeechModelInstalled(const QString& home) {
    struct stat info{};
    if (::stat(speechModelPath(home).toLocal8Bit().constData(), &info) != 0) return false;
    return static_cast<unsigned long long>(info.st_size) >= kSpeechModelMinimumSize;
}

}  // namespace vocalynx
