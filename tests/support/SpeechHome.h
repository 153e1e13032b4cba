#pragma once
// A home folder made ready for dictations: a speech program where the engine looks for it, and a
// model file big enough for the engine's check (sparse: only its size counts).

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include "engine/ModelCheck.h"

namespace vocalynx::test {

// The stand-in the tests start instead of the real recogniser.
inline const QString& standInProgram() {
    static const QString path = QStringLiteral(VOCALYNX_TEST_TOOLS_DIR "/coli_standin");
    return path;
}

inline QString speechProgramPath(const QString& home) { return home + QStringLiteral("/.local/bin/coli"); }

// A model file of the size the engine's check asks for; false when it cannot be made.
inline bool installSpeechModel(const QString& home) {
    const QString model = speechModelPath(home);
    if (!QDir().mkpath(QFileInfo(model).path())) return false;
    QFile f(model);
    return f.open(QIODevice::WriteOnly) && f.resize(static_cast<qint64>(kSpeechModelMinimumSize));
}

// An empty executable where the speech program is looked for, for engines whose launcher is a fake
// that never runs it; false when it cannot be made.
inline bool installPlaceholderSpeechProgram(const QString& home) {
    const QString path = speechProgramPath(home);
    if (!QDir().mkpath(QFileInfo(path).path())) return false;
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Links the stand-in where the speech program is looked for, and installs the model.
inline void prepareStandInHome(const QString& home) {
    const QString program = speechProgramPath(home);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(program).path()));
    QFile::remove(program);
    ASSERT_TRUE(QFile::link(standInProgram(), program));
    ASSERT_TRUE(installSpeechModel(home));
}

}  // namespace vocalynx::test
