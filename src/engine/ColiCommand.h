#pragma once
// Finding the speech program "coli" and building the command that starts its streaming
// recogniser: the runtime shipped in the data folder first, then the usual install places, then
// whatever "/usr/bin/which coli" names.

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

#include "platform/ChildProcess.h"

namespace vocalynx {

// Why dictation cannot use the speech program: it is found nowhere it is looked for, or it exits
// right after every launch. The object of the speechProgramUnavailable notification.
struct SpeechProgramTrouble {
    enum class Kind { notFound, exitsAtOnce };
    Kind kind = Kind::notFound;
    QString program;     // exitsAtOnce: the program that exits
    QStringList places;  // notFound: where it was looked for, in order; "PATH" stands for its folders
};

class ColiLocator {
public:
    using Environment = QMap<QString, QString>;

    // home: the user's home folder; resources: the installed data folder (empty when none);
    // environment: this process's environment; launcher runs "/usr/bin/which" (may be null).
    ColiLocator(QString home, QString resources, Environment environment, ProcessLauncher* launcher);

    // This process's environment as a map.
    static Environment processEnvironment();
    // The sub-folder of the runtime's native recogniser library for this machine.
    static QString nativeLibraryFolder();

    std::optional<QString> locateColi() const;
    // Where locateColi looks, in its order: full paths, then "PATH" for the folders of the search
    // path.
    QStringList searchedPlaces() const;
    Environment makeColiEnvironment(const QString& executablePath) const;
    std::optional<LaunchCommand> makeColiArguments() const;

    static const QStringList& streamArguments();

private:
    struct BundledRuntime {
        QString node;
        QString script;
    };
    std::optional<BundledRuntime> bundledRuntime() const;
    QStringList installPlaces() const;

    QString home_;
    QString resources_;
    Environment environment_;
    ProcessLauncher* launcher_;
};

}  // namespace vocalynx
