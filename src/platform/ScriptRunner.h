#pragma once
// Runs the player scripts of the media service. A runner recognises a fixed set of script texts
// (PlayerScripts.h) and carries them out against the player the script names; any other text is
// an error. Every member may be called from several background threads at once and blocks until
// the player has answered or a short timeout has passed.

#include <QByteArray>
#include <QString>
#include <optional>

namespace vocalynx {

class ScriptRunner {
public:
    virtual ~ScriptRunner() = default;
    // True when the script ran without an error.
    virtual bool runScript(const QString& source) = 0;
    // The script's result as text; none on any error or when the script gives no text.
    virtual std::optional<QString> runScriptForString(const QString& source) = 0;
    // The script's result as raw bytes; none on any error or when the script gives no bytes.
    virtual std::optional<QByteArray> runScriptForData(const QString& source) = 0;
};

}  // namespace vocalynx
