#include "engine/WhisperModel.h"

#include <QDir>

#include "core/Types.h"

namespace vocalynx {

const std::array<WhisperModel, 4>& WhisperModel::allCases() {
    static const std::array<WhisperModel, 4> cases{tiny, base, small, medium};
    return cases;
}

QString WhisperModel::rawValue() const {
    switch (value_) {
        case tiny: return QStringLiteral("ggml-tiny");
        case base: return QStringLiteral("ggml-base");
        case small: return QStringLiteral("ggml-small");
        case medium: return QStringLiteral("ggml-medium");
    }
    return {};
}

std::optional<WhisperModel> WhisperModel::fromRawValue(const QString& rawValue) {
    return caseNamed(allCases(), rawValue, [](WhisperModel model) { return model.rawValue(); });
}

QString WhisperModel::fileName() const { return rawValue() + QStringLiteral(".bin"); }

QUrl WhisperModel::defaultBaseAddress() {
    return QUrl(QStringLiteral("https://huggingface.co/ggerganov/whisper.cpp/resolve/main/"));
}

QUrl WhisperModel::downloadURL(const QUrl& baseAddress) const {
    const QUrl url = baseAddress.resolved(QUrl(fileName()));
    if (!url.isValid()) qFatal("Invalid model download address");
    return url;
}

QString WhisperModel::fileURL(const QString& modelsDirectory) const {
    return modelsDirectory + QLatin1Char('/') + fileName();
}

QString modelsDirectory(const Paths& paths) {
    if (paths.appSupport.isEmpty()) qFatal("Cannot access Application Support directory");
    const QString dir = paths.appSupport + QStringLiteral("/models");
    QDir().mkpath(dir);
    return dir;
}

}  // namespace vocalynx
