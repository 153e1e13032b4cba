#pragma once
#include <QString>
#include <optional>

#include "engine/ColiCommand.h"
#include "engine/ModelCheck.h"

namespace vocalynx {

// The SenseVoice model's files under the user's recogniser folder, as the voice-model row sees
// them: the model folder, the file whose size tells that the model is there, and the archive the
// speech program unpacks into the folder.
// The names and the minimum size are the engine's (engine/ModelCheck.h).
struct SpeechModelFiles {
    explicit SpeechModelFiles(const QString& home);

    QString modelsFolder;  // home + "/.coli/models"
    QString modelDir;      // modelsFolder + "/" + kSpeechModelFolderName
    QString modelFile;     // modelDir + "/" + kSpeechModelCheckFile
    QString archive;       // modelsFolder + "/" + kSpeechModelFolderName + ".tar.bz2"

    // The model file's size, or nothing when it is missing or its size cannot be read.
    std::optional<unsigned long long> modelFileSize() const;

    // Removes the model folder with everything in it, then the archive. Only entries inside the
    // model folder are removed: a symbolic link (the folder itself, or anything in it) is removed
    // as a link and never followed. Failures are ignored; returns false when something that was
    // there could not be removed.
    bool remove() const;
};

// What the user is told when the speech program cannot be used: the bold line of the alert, and
// the explanation the alert and the voice-model row both show (places under home as "~/...").
QString speechProgramTroubleTitle(const SpeechProgramTrouble& trouble);
QString speechProgramTroubleText(const SpeechProgramTrouble& trouble, const QString& home);

}  // namespace vocalynx
