#include "core/HookInstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace vocalynx {

namespace {

enum class FileState { missing, object, malformed };

struct ReadResult {
    FileState state;
    QJsonObject root;
};

// A missing file and an empty one both read as an empty configuration; anything else must be a
// JSON object, or the file counts as malformed (which includes a file we may not read).
ReadResult readConfig(const QString& path) {
    QFile file(path);
    if (!file.exists()) return {FileState::missing, {}};
    if (!file.open(QIODevice::ReadOnly)) return {FileState::malformed, {}};
    const QByteArray bytes = file.readAll();
    if (bytes.trimmed().isEmpty()) return {FileState::missing, {}};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return {FileState::malformed, {}};
    return {FileState::object, doc.object()};
}

// A group is ours when its "hooks" array holds an inner hook whose "command" string contains the
// marker. Elements of any other shape are never ours.
bool isOurGroup(const QJsonValue& group) {
    if (!group.isObject()) return false;
    const QJsonValue inner = group.toObject().value(QStringLiteral("hooks"));
    if (!inner.isArray()) return false;
    for (const QJsonValue& hook : inner.toArray()) {
        if (!hook.isObject()) continue;
        const QJsonValue command = hook.toObject().value(QStringLiteral("command"));
        if (command.isString() && command.toString().contains(HookInstaller::hookMarker)) return true;
    }
    return false;
}

bool hasOurGroup(const QJsonArray& groups) {
    for (const QJsonValue& group : groups)
        if (isOurGroup(group)) return true;
    return false;
}

}  // namespace

HookInstaller::HookInstaller(const QString& homeFolder, Logger& log)
    : bridgePath(homeFolder + QStringLiteral("/.vocalynx/vocalynx-bridge")), log_(log) {
    const QString prompt = QStringLiteral("UserPromptSubmit");
    const QString stop = QStringLiteral("Stop");
    const QString permission = QStringLiteral("PermissionRequest");
    agents_ = {
        {QStringLiteral("Claude Code"), homeFolder + QStringLiteral("/.claude/settings.json"), {prompt, stop, permission},
         QStringLiteral("claude")},
        {QStringLiteral("Codex"), homeFolder + QStringLiteral("/.codex/hooks.json"),
         {QStringLiteral("SessionStart"), prompt, stop, permission}, QStringLiteral("codex")},
        {QStringLiteral("Cursor"), homeFolder + QStringLiteral("/.cursor/hooks.json"), {prompt, stop, permission},
         QStringLiteral("cursor")},
    };
}

QString HookInstaller::commandFor(const AgentConfig& agent) const {
    return bridgePath + QStringLiteral(" --source ") + agent.sourceFlag;
}

bool HookInstaller::install(const AgentConfig& agent) {
    const QFileInfo bridge(bridgePath);
    if (!bridge.isFile() || !bridge.isExecutable()) {
        log_.line(QStringLiteral("[Vocalynx] Bridge not found at ") + bridgePath);
        return false;
    }
    const QString command = commandFor(agent);

    ReadResult read = readConfig(agent.configPath);
    auto refuse = [&](const QString& why) {
        log_.line(QStringLiteral("[Vocalynx] Hooks not installed for ") + agent.name + QStringLiteral(": ") +
                  agent.configPath + QStringLiteral(" ") + why + QStringLiteral("; the file was left unchanged"));
        return false;
    };
    if (read.state == FileState::malformed) return refuse(QStringLiteral("is not a readable JSON object"));
    QJsonObject root = read.root;

    const QJsonValue hooksValue = root.value(QStringLiteral("hooks"));
    if (!hooksValue.isUndefined() && !hooksValue.isObject())
        return refuse(QStringLiteral("has a \"hooks\" value that is not an object"));
    QJsonObject hooks = hooksValue.toObject();

    for (const QString& event : agent.hookEvents) {
        const QJsonValue eventValue = hooks.value(event);
        if (!eventValue.isUndefined() && !eventValue.isArray())
            return refuse(QStringLiteral("has a \"") + event + QStringLiteral("\" value that is not an array"));
        QJsonArray groups = eventValue.toArray();
        if (hasOurGroup(groups)) continue;  // already installed for this event
        QJsonObject inner{{QStringLiteral("type"), QStringLiteral("command")}, {QStringLiteral("command"), command}};
        groups.append(QJsonObject{{QStringLiteral("matcher"), QStringLiteral("*")},
                                  {QStringLiteral("hooks"), QJsonArray{inner}}});
        hooks.insert(event, groups);
    }
    root.insert(QStringLiteral("hooks"), hooks);
    return writeHookConfig(root, agent.configPath);
}

bool HookInstaller::uninstall(const AgentConfig& agent) {
    ReadResult read = readConfig(agent.configPath);
    if (read.state != FileState::object) return true;
    QJsonObject root = read.root;
    const QJsonValue hooksValue = root.value(QStringLiteral("hooks"));
    if (!hooksValue.isObject()) return true;
    QJsonObject hooks = hooksValue.toObject();

    for (const QString& event : agent.hookEvents) {
        const QJsonValue eventValue = hooks.value(event);
        if (!eventValue.isArray()) continue;
        QJsonArray remaining;
        for (const QJsonValue& group : eventValue.toArray())
            if (!isOurGroup(group)) remaining.append(group);
        if (remaining.isEmpty())
            hooks.remove(event);
        else
            hooks.insert(event, remaining);
    }
    root.insert(QStringLiteral("hooks"), hooks);
    return writeHookConfig(root, agent.configPath);
}

bool HookInstaller::isInstalled(const AgentConfig& agent) const {
    const ReadResult read = readConfig(agent.configPath);
    if (read.state != FileState::object) return false;
    const QJsonValue hooksValue = read.root.value(QStringLiteral("hooks"));
    if (!hooksValue.isObject()) return false;
    const QJsonObject hooks = hooksValue.toObject();
    for (const QString& event : agent.hookEvents) {
        const QJsonValue eventValue = hooks.value(event);
        if (eventValue.isArray() && hasOurGroup(eventValue.toArray())) return true;
    }
    return false;
}

bool HookInstaller::writeHookConfig(const QJsonObject& root, const QString& path) const {
    // Replace the file a symbolic link points at rather than the link itself, so a configuration
    // kept elsewhere (a dotfiles folder) stays where it is.
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink()) target = info.symLinkTarget();

    QDir().mkpath(QFileInfo(target).absolutePath());  // a failure shows up when the file is written

    // QJsonObject keeps its keys sorted, so the output has sorted keys at every level.
    const QByteArray content = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (content.isEmpty()) return false;

    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(content) != content.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace vocalynx
