#pragma once
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <vector>

#include "platform/Logger.h"

namespace vocalynx {

// Writes, removes and detects the entries in the coding agents' configuration files that run the
// agent bridge program on the agents' events. Every operation runs to completion on the calling
// thread (the settings window calls it from the main thread); there is no state between calls.
//
// Files that exist but do not have the expected shape are never overwritten by install: when the
// file is not a JSON object, its "hooks" value is not an object, or the value of one of our events
// is not an array, install returns false and leaves the file as it is. Inside an event's array,
// elements that are not groups of the expected shape are kept untouched and simply not counted as
// ours. A file that is empty (or white space only) counts as an empty configuration.
//
// A file holding a number that would come out changed when written again (an integer beyond 64
// bits, which the JSON reader rounds) is left as it is by install and uninstall alike: both log the
// reason and return false. Every refusal and every failed write is logged with the file's path.
class HookInstaller {
public:
    struct AgentConfig {
        QString name;            // display name
        QString configPath;      // absolute path of the agent's configuration file
        QStringList hookEvents;  // the agent events that run the bridge
        QString sourceFlag;      // the value of the bridge's "--source" option
    };

    // homeFolder: the current user's home folder; every path below is built from it.
    HookInstaller(const QString& homeFolder, Logger& log);

    // Claude Code, Codex and Cursor, in this order.
    const std::vector<AgentConfig>& agents() const { return agents_; }

    // True when the configuration file was written with an entry for every event.
    bool install(const AgentConfig& agent);
    // True when there was nothing to remove (file or its "hooks" object missing or unreadable),
    // otherwise whether the rewritten file was saved.
    bool uninstall(const AgentConfig& agent);
    // Reads only: whether any of the agent's events carries one of our entries.
    bool isInstalled(const AgentConfig& agent) const;

    // Creates the parent folder when needed and replaces the file at path with the object as
    // pretty-printed JSON with sorted keys. The new content is written to a temporary file in the
    // same folder and renamed over the old one, so the file is never left half written. A path
    // that is a symbolic link is followed: the link's target is replaced and the link stays. A file
    // with other hard links is overwritten in place instead, so that all its names keep sharing
    // it. A failure is logged with the path and the reason.
    bool writeHookConfig(const QJsonObject& root, const QString& path) const;

    const QString bridgePath;
    static inline const QString hookMarker = QStringLiteral("vocalynx-bridge");

    // The shell command an agent runs for one event.
    QString commandFor(const AgentConfig& agent) const;

private:
    Logger& log_;
    std::vector<AgentConfig> agents_;
};

}  // namespace vocalynx
