#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "RecordingLogger.h"
#include "core/HookInstaller.h"

using namespace vocalynx;
using vocalynx::test::RecordingLogger;

namespace {

class HookInstallerTest : public ::testing::Test {
protected:
    QString home() const { return dir.path(); }
    const HookInstaller::AgentConfig& claude() const { return hooks.agents()[0]; }
    const HookInstaller::AgentConfig& codex() const { return hooks.agents()[1]; }

    void makeBridge(QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) {
        QDir().mkpath(home() + QStringLiteral("/.vocalynx"));
        QFile bridge(hooks.bridgePath);
        ASSERT_TRUE(bridge.open(QIODevice::WriteOnly));
        bridge.write("#!/bin/sh\n");
        bridge.close();
        bridge.setPermissions(permissions);
    }
    static void writeFile(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static QByteArray readFile(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QJsonObject readObject(const QString& path) { return QJsonDocument::fromJson(readFile(path)).object(); }
    static QJsonObject ourGroup(const QString& command) {
        return QJsonObject{
            {QStringLiteral("matcher"), QStringLiteral("*")},
            {QStringLiteral("hooks"), QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("command")},
                                                             {QStringLiteral("command"), command}}}}};
    }
    static QJsonObject userGroup(const QString& command) {
        return QJsonObject{
            {QStringLiteral("matcher"), QStringLiteral("Bash")},
            {QStringLiteral("hooks"), QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("command")},
                                                             {QStringLiteral("command"), command}}}}};
    }

    QTemporaryDir dir;
    RecordingLogger log;
    HookInstaller hooks{dir.path(), log};
};

TEST_F(HookInstallerTest, AgentTableIsBuiltFromTheHomeFolder) {
    ASSERT_EQ(hooks.agents().size(), 3u);
    struct Expected {
        const char* name;
        const char* file;
        QStringList events;
        const char* flag;
    };
    const Expected expected[] = {
        {"Claude Code", "/.claude/settings.json",
         {QStringLiteral("UserPromptSubmit"), QStringLiteral("Stop"), QStringLiteral("PermissionRequest")},
         "claude"},
        {"Codex", "/.codex/hooks.json",
         {QStringLiteral("SessionStart"), QStringLiteral("UserPromptSubmit"), QStringLiteral("Stop"),
          QStringLiteral("PermissionRequest")},
         "codex"},
        {"Cursor", "/.cursor/hooks.json",
         {QStringLiteral("UserPromptSubmit"), QStringLiteral("Stop"), QStringLiteral("PermissionRequest")},
         "cursor"},
    };
    for (size_t i = 0; i < 3; ++i) {
        const auto& a = hooks.agents()[i];
        EXPECT_EQ(a.name, QString::fromUtf8(expected[i].name));
        EXPECT_EQ(a.configPath, home() + QString::fromUtf8(expected[i].file));
        EXPECT_EQ(a.hookEvents, expected[i].events);
        EXPECT_EQ(a.sourceFlag, QString::fromUtf8(expected[i].flag));
    }
    EXPECT_EQ(hooks.bridgePath, home() + QStringLiteral("/.vocalynx/vocalynx-bridge"));
    EXPECT_EQ(hooks.commandFor(codex()), home() + QStringLiteral("/.vocalynx/vocalynx-bridge --source codex"));
}

TEST_F(HookInstallerTest, InstallWritesOneGroupPerEventAndTwiceChangesNothing) {
    makeBridge();
    for (const auto& agent : hooks.agents()) {
        SCOPED_TRACE(agent.name.toStdString());
        EXPECT_FALSE(hooks.isInstalled(agent));
        ASSERT_TRUE(hooks.install(agent));
        ASSERT_TRUE(hooks.install(agent));
        const QJsonObject root = readObject(agent.configPath);
        const QJsonObject h = root.value(QStringLiteral("hooks")).toObject();
        EXPECT_EQ(h.keys().size(), agent.hookEvents.size());
        for (const QString& event : agent.hookEvents)
            EXPECT_EQ(h.value(event).toArray(), QJsonArray{ourGroup(hooks.commandFor(agent))}) << event.toStdString();
        EXPECT_TRUE(hooks.isInstalled(agent));
    }
}

TEST_F(HookInstallerTest, InstallAppendsAfterTheUsersGroupAndKeepsOtherKeys) {
    makeBridge();
    const QJsonObject before{
        {QStringLiteral("model"), QStringLiteral("opus")},
        {QStringLiteral("permissions"), QJsonObject{{QStringLiteral("allow"), QJsonArray{QStringLiteral("Bash(ls)")}}}},
        {QStringLiteral("hooks"),
         QJsonObject{{QStringLiteral("Stop"), QJsonArray{userGroup(QStringLiteral("say done"))}},
                     {QStringLiteral("Notification"), QJsonArray{userGroup(QStringLiteral("notify-send hi"))}}}},
    };
    writeFile(claude().configPath, QJsonDocument(before).toJson());
    ASSERT_TRUE(hooks.install(claude()));

    const QJsonObject after = readObject(claude().configPath);
    EXPECT_EQ(after.value(QStringLiteral("model")), before.value(QStringLiteral("model")));
    EXPECT_EQ(after.value(QStringLiteral("permissions")), before.value(QStringLiteral("permissions")));
    const QJsonObject h = after.value(QStringLiteral("hooks")).toObject();
    EXPECT_EQ(h.value(QStringLiteral("Stop")).toArray(),
              (QJsonArray{userGroup(QStringLiteral("say done")), ourGroup(hooks.commandFor(claude()))}));
    EXPECT_EQ(h.value(QStringLiteral("Notification")).toArray(),
              QJsonArray{userGroup(QStringLiteral("notify-send hi"))});
    // Keys are written sorted.
    const QByteArray text = readFile(claude().configPath);
    EXPECT_LT(text.indexOf("\"hooks\""), text.indexOf("\"model\""));
    EXPECT_LT(text.indexOf("\"model\""), text.indexOf("\"permissions\""));
}

TEST_F(HookInstallerTest, WithoutAnExecutableBridgeInstallChangesNothing) {
    const QByteArray original = R"({"hooks": {}})";
    writeFile(claude().configPath, original);
    EXPECT_FALSE(hooks.install(claude()));
    EXPECT_TRUE(log.contains(QStringLiteral("[Vocalynx] Bridge not found at ") + hooks.bridgePath));

    makeBridge(QFile::ReadOwner | QFile::WriteOwner);  // present but not executable
    EXPECT_FALSE(hooks.install(claude()));
    EXPECT_EQ(readFile(claude().configPath), original);
    EXPECT_FALSE(QFile::exists(codex().configPath));
    EXPECT_FALSE(hooks.install(codex()));
    EXPECT_FALSE(QFile::exists(codex().configPath));
}

// Files of another shape: install refuses and leaves the bytes alone; uninstall and isInstalled
// never lose what the user wrote.
TEST_F(HookInstallerTest, MalformedFilesAreNeverDiscarded) {
    makeBridge();
    struct Case {
        const char* what;
        QByteArray content;
        bool uninstallWrites;  // uninstall rewrites the file (it is an object with a "hooks" object)
    };
    const Case cases[] = {
        {"not JSON", "{\"hooks\": {\"Stop\": [", false},
        {"JSON array", "[{\"hooks\": {}}]", false},
        {"hooks is a string", R"({"hooks": "run-everything", "theme": "dark"})", false},
        {"event value is an object", R"({"hooks": {"Stop": {"command": "mine"}}, "theme": "dark"})", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(claude().configPath, c.content);
        log.clear();
        EXPECT_FALSE(hooks.install(claude()));
        EXPECT_EQ(readFile(claude().configPath), c.content);
        EXPECT_EQ(log.countPart("the file was left unchanged"), 1);
        EXPECT_FALSE(hooks.isInstalled(claude()));

        EXPECT_TRUE(hooks.uninstall(claude()));
        if (c.uninstallWrites)
            EXPECT_EQ(readObject(claude().configPath), QJsonDocument::fromJson(c.content).object());
        else
            EXPECT_EQ(readFile(claude().configPath), c.content);
    }
}

TEST_F(HookInstallerTest, GroupsOfAnotherShapeStayBesideOurs) {
    makeBridge();
    const QJsonArray odd{QStringLiteral("echo"), QJsonObject{{QStringLiteral("hooks"), QStringLiteral("not-an-array")}},
                         QJsonObject{{QStringLiteral("matcher"), QStringLiteral("*")}}};
    writeFile(
        claude().configPath,
        QJsonDocument(QJsonObject{{QStringLiteral("hooks"), QJsonObject{{QStringLiteral("Stop"), odd}}}}).toJson());

    ASSERT_TRUE(hooks.install(claude()));
    QJsonArray expected = odd;
    expected.append(ourGroup(hooks.commandFor(claude())));
    EXPECT_EQ(readObject(claude().configPath)[QStringLiteral("hooks")].toObject()[QStringLiteral("Stop")].toArray(),
              expected);

    ASSERT_TRUE(hooks.uninstall(claude()));
    const QJsonObject h = readObject(claude().configPath)[QStringLiteral("hooks")].toObject();
    EXPECT_EQ(h[QStringLiteral("Stop")].toArray(), odd);
    EXPECT_FALSE(h.contains(QStringLiteral("UserPromptSubmit")));
}

TEST_F(HookInstallerTest, EmptyFileCountsAsEmptyConfiguration) {
    makeBridge();
    writeFile(claude().configPath, " \n");
    ASSERT_TRUE(hooks.install(claude()));
    EXPECT_TRUE(hooks.isInstalled(claude()));
}

TEST_F(HookInstallerTest, UninstallRemovesOurGroupsOnly) {
    const QString ours = hooks.commandFor(claude());
    const QJsonObject mixed{
        {QStringLiteral("matcher"), QStringLiteral("*")},
        {QStringLiteral("hooks"), QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("command")},
                                                         {QStringLiteral("command"), QStringLiteral("say hi")}},
                                             QJsonObject{{QStringLiteral("type"), QStringLiteral("command")},
                                                         {QStringLiteral("command"), ours}}}}};
    const QJsonObject before{
        {QStringLiteral("env"), QJsonObject{{QStringLiteral("A"), QStringLiteral("1")}}},
        {QStringLiteral("hooks"),
         QJsonObject{
             {QStringLiteral("Stop"), QJsonArray{userGroup(QStringLiteral("one")), mixed,
                                                 userGroup(QStringLiteral("two"))}},  // mixed group goes whole
             {QStringLiteral("UserPromptSubmit"), QJsonArray{ourGroup(ours)}},  // only ours: key goes
             {QStringLiteral("PreToolUse"), QJsonArray{ourGroup(ours)}},  // not one of our events: stays
         }},
    };
    writeFile(claude().configPath, QJsonDocument(before).toJson());
    EXPECT_TRUE(hooks.isInstalled(claude()));
    ASSERT_TRUE(hooks.uninstall(claude()));

    const QJsonObject after = readObject(claude().configPath);
    EXPECT_EQ(after.value(QStringLiteral("env")), before.value(QStringLiteral("env")));
    const QJsonObject h = after.value(QStringLiteral("hooks")).toObject();
    EXPECT_EQ(h.value(QStringLiteral("Stop")).toArray(),
              (QJsonArray{userGroup(QStringLiteral("one")), userGroup(QStringLiteral("two"))}));
    EXPECT_FALSE(h.contains(QStringLiteral("UserPromptSubmit")));
    EXPECT_EQ(h.value(QStringLiteral("PreToolUse")).toArray(), QJsonArray{ourGroup(ours)});
    EXPECT_FALSE(hooks.isInstalled(claude()));

    // Removing the last entries leaves an empty "hooks" object behind.
    writeFile(claude().configPath,
              QJsonDocument(QJsonObject{{QStringLiteral("hooks"),
                                         QJsonObject{{QStringLiteral("Stop"), QJsonArray{ourGroup(ours)}}}}})
                  .toJson());
    ASSERT_TRUE(hooks.uninstall(claude()));
    EXPECT_EQ(readObject(claude().configPath), (QJsonObject{{QStringLiteral("hooks"), QJsonObject{}}}));
}

TEST_F(HookInstallerTest, UninstallWithNothingToRemoveWritesNothing) {
    EXPECT_TRUE(hooks.uninstall(claude()));
    EXPECT_FALSE(QFile::exists(claude().configPath));

    const QByteArray noHooks = R"({"theme":   "dark"})";
    writeFile(claude().configPath, noHooks);
    EXPECT_TRUE(hooks.uninstall(claude()));
    EXPECT_EQ(readFile(claude().configPath), noHooks);
}

TEST_F(HookInstallerTest, OneInstalledEventIsEnough) {
    // Our marker anywhere in the command counts, whoever wrote it.
    writeFile(codex().configPath,
              QJsonDocument(
                  QJsonObject{{QStringLiteral("hooks"),
                               QJsonObject{{QStringLiteral("SessionStart"),
                                            QJsonArray{ourGroup(QStringLiteral("/opt/vocalynx-bridge --source x"))}},
                                           {QStringLiteral("Stop"), QJsonArray{userGroup(QStringLiteral("other"))}}}}})
                  .toJson());
    EXPECT_TRUE(hooks.isInstalled(codex()));
    // The same file does not count for Claude Code, which has no SessionStart hook.
    writeFile(claude().configPath, readFile(codex().configPath));
    EXPECT_FALSE(hooks.isInstalled(claude()));
}

TEST_F(HookInstallerTest, WritingReplacesTheFileWhole) {
    // Missing folders are created.
    const QString deep = home() + QStringLiteral("/a/b/c/hooks.json");
    ASSERT_TRUE(hooks.writeHookConfig(QJsonObject{{QStringLiteral("k"), 1}}, deep));
    EXPECT_EQ(readObject(deep), (QJsonObject{{QStringLiteral("k"), 1}}));

    // The file's permissions survive the replacement, and no temporary file is left behind.
    QFile::setPermissions(deep, QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(hooks.writeHookConfig(QJsonObject{{QStringLiteral("k"), 2}}, deep));
    EXPECT_EQ(QFile::permissions(deep) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    EXPECT_EQ(QDir(home() + QStringLiteral("/a/b/c")).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("hooks.json")});

    // A symbolic link stays a link; its target gets the new content.
    const QString real = home() + QStringLiteral("/dotfiles/claude.json");
    writeFile(real, "{}");
    QDir().mkpath(home() + QStringLiteral("/.claude"));
    ASSERT_TRUE(QFile::link(real, claude().configPath));
    ASSERT_TRUE(hooks.writeHookConfig(QJsonObject{{QStringLiteral("k"), 3}}, claude().configPath));
    EXPECT_TRUE(QFileInfo(claude().configPath).isSymLink());
    EXPECT_EQ(readObject(real), (QJsonObject{{QStringLiteral("k"), 3}}));

    // A folder that cannot exist (a file stands in its place): false, nothing else changes.
    writeFile(home() + QStringLiteral("/blocker"), "keep");
    EXPECT_FALSE(
        hooks.writeHookConfig(QJsonObject{{QStringLiteral("k"), 4}}, home() + QStringLiteral("/blocker/hooks.json")));
    EXPECT_EQ(readFile(home() + QStringLiteral("/blocker")), "keep");
}

// Numbers the JSON reader would round must not be rewritten: install and uninstall leave such a
// file alone and say why. Numbers that come back the same are rewritten as before.
TEST_F(HookInstallerTest, AFileWhoseNumbersWouldChangeIsNeverRewritten) {
    makeBridge();
    const QByteArray ours = "{\"matcher\": \"*\", \"hooks\": [{\"type\": \"command\", \"command\": \"" +
                            hooks.commandFor(claude()).toUtf8() + "\"}]}";
    struct Case {
        const char* what;
        QByteArray values;  // the members beside "hooks"
        bool rewritten;
    };
    const Case cases[] = {
        {"an integer beyond 64 bits", R"("big": 123456789012345678901234567890)", false},
        {"the largest unsigned 64-bit integer", R"("n": [1, 18446744073709551615])", false},
        {"below the smallest 64-bit integer", R"("n": {"deep": -9223372036854775809})", false},
        {"64-bit integers", R"("a": 9223372036854775807, "b": -9223372036854775808)", true},
        {"fractions and exponents", R"("a": 0.1, "b": 1.5e-7, "c": 2E3, "d": -0.0)", true},
        {"long digits inside strings",
         R"("s": "123456789012345678901234567890", "t": "say \"18446744073709551615\"")", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray content = "{" + c.values + ", \"hooks\": {\"Stop\": [" + ours + "]}}";
        const QJsonObject before = QJsonDocument::fromJson(content).object();
        ASSERT_FALSE(before.isEmpty());
        for (bool installing : {true, false}) {
            writeFile(claude().configPath, content);
            log.clear();
            EXPECT_EQ(installing ? hooks.install(claude()) : hooks.uninstall(claude()), c.rewritten);
            if (c.rewritten) {
                const QJsonObject after = readObject(claude().configPath);
                for (auto it = before.begin(); it != before.end(); ++it)
                    if (it.key() != QStringLiteral("hooks")) {
                        EXPECT_EQ(after.value(it.key()), it.value()) << it.key().toStdString();
                    }
                EXPECT_EQ(hooks.isInstalled(claude()), installing);
            } else {
                EXPECT_EQ(readFile(claude().configPath), content);
                EXPECT_EQ(log.countPart(
                              QStringLiteral("which writing the file again would change; the file was left unchanged")),
                          1);
            }
        }
    }
}

// A configuration file with a second hard link: both names still share one file afterwards, and
// both see each change.
TEST_F(HookInstallerTest, AHardLinkedFileKeepsAllItsNames) {
    makeBridge();
    writeFile(claude().configPath, R"({"theme": "dark"})");
    const QString other = home() + QStringLiteral("/dotfiles-settings.json");
    ASSERT_EQ(::link(QFile::encodeName(claude().configPath).constData(), QFile::encodeName(other).constData()), 0);
    auto sameFile = [&] {
        struct stat a {}, b {};
        return ::stat(QFile::encodeName(claude().configPath).constData(), &a) == 0 &&
               ::stat(QFile::encodeName(other).constData(), &b) == 0 && a.st_ino == b.st_ino && a.st_nlink == 2;
    };

    ASSERT_TRUE(hooks.install(claude()));
    EXPECT_TRUE(sameFile());
    EXPECT_EQ(readFile(other), readFile(claude().configPath));
    EXPECT_TRUE(hooks.isInstalled(claude()));
    EXPECT_EQ(readObject(other).value(QStringLiteral("theme")), QStringLiteral("dark"));

    ASSERT_TRUE(hooks.uninstall(claude()));
    EXPECT_TRUE(sameFile());
    EXPECT_EQ(readObject(other), (QJsonObject{{QStringLiteral("hooks"), QJsonObject()},
                                              {QStringLiteral("theme"), QStringLiteral("dark")}}));
    EXPECT_EQ(QDir(home()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("dotfiles-settings.json")})
        << "no temporary file is left behind";
}

// A file that cannot be written is reported with its path and the reason, and install says so.
TEST_F(HookInstallerTest, AFailedWriteIsLogged) {
    makeBridge();
    writeFile(home() + QStringLiteral("/.claude"), "a plain file where the folder should be");
    EXPECT_FALSE(hooks.install(claude()));
    const QStringList lines = log.lines().filter(QStringLiteral("could not be written"));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("[Vocalynx] Hook file ") + claude().configPath +
                                    QStringLiteral(" could not be written: ")));
    EXPECT_GT(lines[0].size(), QString(QStringLiteral("[Vocalynx] Hook file ") + claude().configPath +
                                       QStringLiteral(" could not be written: "))
                                   .size())
        << "the reason follows";
    EXPECT_EQ(readFile(home() + QStringLiteral("/.claude")), "a plain file where the folder should be");
}

}  // namespace
