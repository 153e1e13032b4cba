#include "core/HookInstaller.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "platform/LogText.h"

namespace vocalynx {

namespace {

enum class FileState { missing, object, malformed };

struct ReadResult {
    FileState state;
    QJsonObject root;
    QByteArray bytes;  // the file as read
};

// A missing file and an empty one both read as an empty configuration; anything else must be a
// JSON object, or the file counts as malformed (which includes a file we may not read).
ReadResult readConfig(const QString& path) {
    QFile file(path);
    if (!file.exists()) return {FileState::missing, {}, {}};
    if (!file.open(QIODevice::ReadOnly)) return {FileState::malformed, {}, {}};
    const QByteArray bytes = file.readAll();
    if (bytes.trimmed().isEmpty()) return {FileState::missing, {}, {}};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return {FileState::malformed, {}, {}};
    return {FileState::object, doc.object(), bytes};
}

// Whether a number, as it stands in a JSON text, comes out as the same number when its parsed
// value is written again. QJsonDocument keeps integers in 64 bits and everything else as a double:
// a longer integer would be rounded (12345678901234567890123 becomes 1.2345678901234568e+22). An
// integer must come back digit for digit; a fraction or exponent must come back as the same double.
bool survivesRewrite(const QByteArray& token) {
    const QByteArray written = QJsonDocument::fromJson("[" + token + "]").toJson(QJsonDocument::Compact);
    const QByteArray again = written.mid(1, written.size() - 2);
    if (!token.contains('.') && !token.contains('e') && !token.contains('E')) return again == token;
    bool tokenOk = false;
    bool againOk = false;
    const double before = token.toDouble(&tokenOk);
    const double after = again.toDouble(&againOk);
    return tokenOk && againOk && before == after;
}

// The first number of a well-formed JSON text that would not survive a rewrite, or an empty array.
QByteArray numberThatWouldChange(const QByteArray& json) {
    bool inString = false;
    bool escaped = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char ch = json[i];
        if (inString) {
            if (escaped)
                escaped = false;
            else if (ch == '\\')
                escaped = true;
            else if (ch == '"')
                inString = false;
            continue;
        }
        if (ch == '"') {
            inString = true;
            continue;
        }
        if (ch != '-' && (ch < '0' || ch > '9')) continue;
        qsizetype end = i;
        while (end < json.size() && (std::isdigit(static_cast<unsigned char>(json[end])) || json[end] == '-' ||
                                     json[end] == '+' || json[end] == '.' || json[end] == 'e' || json[end] == 'E'))
            ++end;
        const QByteArray token = json.mid(i, end - i);
        if (!survivesRewrite(token)) return token;
        i = end - 1;
    }
    return {};
}

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Overwrites a file where it stands, keeping its inode, so that every hard link to it sees the new
// content. Space for a longer content is reserved first, so that a full disk fails before anything
// is overwritten.
bool writeInPlace(const QString& path, const QByteArray& content, QString& error) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = errnoText(errno);
        return false;
    }
    auto fail = [&](int code) {
        error = errnoText(code);
        ::close(fd);
        return false;
    };
    struct stat info {};
    if (::fstat(fd, &info) != 0) return fail(errno);
    if (!S_ISREG(info.st_mode)) return fail(EINVAL);
    if (content.size() > info.st_size) {
        const int reserved = ::posix_fallocate(fd, info.st_size, content.size() - info.st_size);
        if (reserved != 0 && reserved != EOPNOTSUPP && reserved != EINVAL) return fail(reserved);
    }
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t n = ::pwrite(fd, content.constData() + done, size_t(content.size() - done), off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(errno);
        done += n;
    }
    if (::ftruncate(fd, off_t(content.size())) != 0) return fail(errno);
    if (::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) {
        error = errnoText(errno);
        return false;
    }
    return true;
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
    if (const QByteArray number = numberThatWouldChange(read.bytes); !number.isEmpty())
        return refuse(QStringLiteral("holds the number ") + boundedLogValue(QString::fromLatin1(number), 60) +
                      QStringLiteral(", which writing the file again would change"));
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
    if (const QByteArray number = numberThatWouldChange(read.bytes); !number.isEmpty()) {
        log_.line(QStringLiteral("[Vocalynx] Hooks not removed for ") + agent.name + QStringLiteral(": ") +
                  agent.configPath + QStringLiteral(" holds the number ") +
                  boundedLogValue(QString::fromLatin1(number), 60) +
                  QStringLiteral(", which writing the file again would change; the file was left unchanged"));
        return false;
    }
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
    auto failed = [&](const QString& error) {
        log_.line(QStringLiteral("[Vocalynx] Hook file ") + boundedLogValue(target) +
                  QStringLiteral(" could not be written: ") + boundedLogValue(error));
        return false;
    };

    QDir().mkpath(QFileInfo(target).absolutePath());  // a failure shows up when the file is written

    // QJsonObject keeps its keys sorted, so the output has sorted keys at every level.
    const QByteArray content = QJsonDocument(root).toJson(QJsonDocument::Indented);
    if (content.isEmpty()) return failed(QStringLiteral("the configuration could not be turned into JSON"));

    // A file with other hard links is overwritten in place: replacing it would leave the other
    // names with the old content.
    struct stat existing {};
    if (::stat(QFile::encodeName(target).constData(), &existing) == 0 && S_ISREG(existing.st_mode) &&
        existing.st_nlink > 1) {
        QString error;
        return writeInPlace(target, content, error) || failed(error);
    }

    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) return failed(file.errorString());
    if (file.write(content) != content.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return failed(error);
    }
    if (!file.commit()) return failed(file.errorString());
    return true;
}

}  // namespace vocalynx
