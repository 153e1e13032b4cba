#pragma once
#include <QString>

namespace vocalynx {

// The folders the system reads and writes. Production takes them from the XDG variables and the
// home folder; tests point them into a temporary folder.
struct Paths {
    QString home;          // the user's home folder
    QString config;        // settings files ($XDG_CONFIG_HOME/vocalynx)
    QString appSupport;    // application-support folder ($XDG_DATA_HOME/Vocalynx)
    QString logs;          // logs folder ($XDG_STATE_HOME/vocalynx/logs)
    QString temp;          // files written and read back, in a folder only this user can write
    QString resources;     // installed data folder (<prefix>/share/vocalynx)

    static Paths fromEnvironment();
    // Every folder under one root, for tests.
    static Paths under(const QString& root);
};

}  // namespace vocalynx
