#pragma once
#include <QString>
#include <QUrl>
#include <array>
#include <optional>

#include "platform/Paths.h"

namespace vocalynx {

// The downloadable whisper.cpp voice models, in catalogue order.
class WhisperModel {
public:
    enum Case { tiny, base, small, medium };

    constexpr WhisperModel(Case value) : value_(value) {}

    static const std::array<WhisperModel, 4>& allCases();
    // Exactly the four raw values are accepted.
    static std::optional<WhisperModel> fromRawValue(const QString& rawValue);

    Case value() const { return value_; }
    QString rawValue() const;
    // rawValue + ".bin"
    QString fileName() const;
    // The file's address under a repository folder; the default is the public repository.
    QUrl downloadURL(const QUrl& baseAddress = defaultBaseAddress()) const;
    // Where the downloaded file is kept: modelsDirectory + file name.
    QString fileURL(const QString& modelsDirectory) const;

    // The public model repository folder; its path ends in "whisper.cpp/resolve/main/".
    static QUrl defaultBaseAddress();

    friend bool operator==(WhisperModel a, WhisperModel b) { return a.value_ == b.value_; }

private:
    Case value_;
};

// The folder that holds downloaded models: the application-support folder + "models". It is
// created (with its parents) when missing; a creation failure is left for the download to report.
QString modelsDirectory(const Paths& paths);

}  // namespace vocalynx
