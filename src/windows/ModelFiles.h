#pragma once
#include <QString>
#include <optional>

namespace vocalynx {

// The SenseVoice model's files under the user's recogniser folder, as the voice-model row sees
// them: the model folder, the file whose size tells that the model is there, and the archive the
// speech program unpacks into the folder.
struct SpeechModelFiles {
    static constexpr const char* kFolderName = "sherpa-onnx-sense-voice-zh-en-ja-ko-yue-int8-2024-07-17";
    static constexpr const char* kCheckFile = "model.int8.onnx";
    static constexpr unsigned long long kExpectedMinSize = 200000000ULL;

    explicit SpeechModelFiles(const QString& home);

    QString modelsFolder;  // home + "/.coli/models"
    QString modelDir;      // modelsFolder + "/" + kFolderName
    QString modelFile;     // modelDir + "/" + kCheckFile
    QString archive;       // modelsFolder + "/" + kFolderName + ".tar.bz2"

    // The model file's size, or nothing when it is missing or its size cannot be read.
    std::optional<unsigned long long> modelFileSize() const;

    // Removes the model folder with everything in it, then the archive. Only entries inside the
    // model folder are removed: a symbolic link (the folder itself, or anything in it) is removed
    // as a link and never followed. Failures are ignored; returns false when something that was
    // there could not be removed.
    bool remove() const;
};

}  // namespace vocalynx
