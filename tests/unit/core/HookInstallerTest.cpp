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
        QDir().mkpath(home() + "/.vocalynx");
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
        return QJsonObject{{"matcher", "*"},
                           {"hooks", QJsonArray{QJsonObject{{"type", "command"}, {"command", command}}}}};
    }
    static QJsonObject userGroup(const QString& command) {
        return QJsonObject{{"matcher", "Bash"},
                           {"hooks", QJsonArray{QJsonObject{{"type", "command"}, {"command", command}}}}};
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
        {"Claude Code", "/.claude/settings.json", {"UserPromptSubmit", "Stop", "PermissionRequest"}, "claude"},
        {"Codex", "/.codex/hooks.json", {"SessionStart", "UserPromptSubmit", "Stop", "PermissionRequest"}, "codex"},
        {"Cursor", "/.cursor/hooks.json", {"UserPromptSubmit", "Stop", "PermissionRequest"}, "cursor"},
    };
    for (size_t i = 0; i < 3; ++i) {
        const auto& a = hooks.agents()[i];
        EXPECT_EQ(a.name, expected[i].name);
        EXPECT_EQ(a.configPath, home() + expected[i].file);
        EXPECT_EQ(a.hookEvents, expected[i].events);
        EXPECT_EQ(a.sourceFlag, expected[i].flag);
    }
    EXPECT_EQ(hooks.bridgePath, home() + "/.vocalynx/vocalynx-bridge");
    EXPECT_EQ(hooks.commandFor(codex()), home() + "/.vocalynx/vocalynx-bridge --source codex");
}

TEST_F(HookInstallerTest, InstallWritesOneGroupPerEventAndTwiceChangesNothing) {
    makeBridge();
    for (const auto& agent : hooks.agents()) {
        SCOPED_TRACE(agent.name.toStdString());
        EXPECT_FALSE(hooks.isInstalled(agent));
        ASSERT_TRUE(hooks.install(agent));
        ASSERT_TRUE(hooks.install(agent));
        const QJsonObject root = readObject(agent.configPath);
        const QJsonObject h = root.value("hooks").toObject();
        EXPECT_EQ(h.keys().size(), agent.hookEvents.size());
        for (const QString& event : agent.hookEvents)
            EXPECT_EQ(h.value(event).toArray(), QJsonArray{ourGroup(hooks.commandFor(agent))}) << event.toStdString();
        EXPECT_TRUE(hooks.isInstalled(agent));
    }
}

TEST_F(HookInstallerTest, InstallAppendsAfterTheUsersGroupAndKeepsOtherKeys) {
    makeBridge();
    const QJsonObject before{
        {"model", "opus"},
        {"permissions", QJsonObject{{"allow", QJsonArray{"Bash(ls)"}}}},
        {"hooks", QJsonObject{{"Stop", QJsonArray{userGroup("say done")}},
                              {"Notification", QJsonArray{userGroup("notify-send hi")}}}},
    };
    writeFile(claude().configPath, QJsonDocument(before).toJson());
    ASSERT_TRUE(hooks.install(claude()));

    const QJsonObject after = readObject(claude().configPath);
    EXPECT_EQ(after.value("model"), before.value("model"));
    EXPECT_EQ(after.value("permissions"), before.value("permissions"));
    const QJsonObject h = after.value("hooks").toObject();
    EXPECT_EQ(h.value("Stop").toArray(), (QJsonArray{userGroup("say done"), ourGroup(hooks.commandFor(claude()))}));
    EXPECT_EQ(h.value("Notification").toArray(), QJsonArray{userGroup("notify-send hi")});
    // Keys are written sorted.
    const QByteArray text = readFile(claude().configPath);
    EXPECT_LT(text.indexOf("\"hooks\""), text.indexOf("\"model\""));
    EXPECT_LT(text.indexOf("\"model\""), text.indexOf("\"permissions\""));
}

TEST_F(HookInstallerTest, WithoutAnExecutableBridgeInstallChangesNothing) {
    const QByteArray original = R"({"hooks": {}})";
    writeFile(claude().configPath, original);
    EXPECT_FALSE(hooks.install(claude()));
    EXPECT_TRUE(log.contains("[Vocalynx] Bridge not found at " + hooks.bridgePath));

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
    const QJsonArray odd{"echo", QJsonObject{{"hooks", "not-an-array"}}, QJsonObject{{"matcher", "*"}}};
    writeFile(claude().configPath, QJsonDocument(QJsonObject{{"hooks", QJsonObject{{"Stop", odd}}}}).toJson());

    ASSERT_TRUE(hooks.install(claude()));
    QJsonArray expected = odd;
    expected.append(ourGroup(hooks.commandFor(claude())));
    EXPECT_EQ(readObject(claude().configPath)["hooks"].toObject()["Stop"].toArray(), expected);

    ASSERT_TRUE(hooks.uninstall(claude()));
    const QJsonObject h = readObject(claude().configPath)["hooks"].toObject();
    EXPECT_EQ(h["Stop"].toArray(), odd);
    EXPECT_FALSE(h.contains("UserPromptSubmit"));
}

TEST_F(HookInstallerTest, EmptyFileCountsAsEmptyConfiguration) {
    makeBridge();
    writeFile(claude().configPath, " \n");
    ASSERT_TRUE(hooks.install(claude()));
    EXPECT_TRUE(hooks.isInstalled(claude()));
}

TEST_F(HookInstallerTest, UninstallRemovesOurGroupsOnly) {
    const QString ours = hooks.commandFor(claude());
    const QJsonObject mixed{{"matcher", "*"},
                            {"hooks", QJsonArray{QJsonObject{{"type", "command"}, {"command", "say hi"}},
                                                 QJsonObject{{"type", "command"}, {"command", ours}}}}};
    const QJsonObject before{
        {"env", QJsonObject{{"A", "1"}}},
        {"hooks", QJsonObject{
                      {"Stop", QJsonArray{userGroup("one"), mixed, userGroup("two")}},  // mixed group goes whole
                      {"UserPromptSubmit", QJsonArray{ourGroup(ours)}},                 // only ours: key goes
                      {"PreToolUse", QJsonArray{ourGroup(ours)}},  // not one of our events: stays
                  }},
    };
    writeFile(claude().configPath, QJsonDocument(before).toJson());
    EXPECT_TRUE(hooks.isInstalled(claude()));
    ASSERT_TRUE(hooks.uninstall(claude()));

    const QJsonObject after = readObject(claude().configPath);
    EXPECT_EQ(after.value("env"), before.value("env"));
    const QJsonObject h = after.value("hooks").toObject();
    EXPECT_EQ(h.value("Stop").toArray(), (QJsonArray{userGroup("one"), userGroup("two")}));
    EXPECT_FALSE(h.contains("UserPromptSubmit"));
    EXPECT_EQ(h.value("PreToolUse").toArray(), QJsonArray{ourGroup(ours)});
    EXPECT_FALSE(hooks.isInstalled(claude()));

    // Removing the last entries leaves an empty "hooks" object behind.
    writeFile(claude().configPath, QJsonDocument(QJsonObject{{"hooks", QJsonObject{{"Stop", QJsonArray{ourGroup(ours)}}}}}).toJson());
    ASSERT_TRUE(hooks.uninstall(claude()));
    EXPECT_EQ(readObject(claude().configPath), (QJsonObject{{"hooks", QJsonObject{}}}));
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
              QJsonDocument(QJsonObject{{"hooks", QJsonObject{{"SessionStart", QJsonArray{ourGroup(
                                                                                 "/opt/vocalynx-bridge --source x")}},
                                                              {"Stop", QJsonArray{userGroup("other")}}}}})
                  .toJson());
    EXPECT_TRUE(hooks.isInstalled(codex()));
    // The same file does not count for Claude Code, which has no SessionStart hook.
    writeFile(claude().configPath, readFile(codex().configPath));
    EXPECT_FALSE(hooks.isInstalled(claude()));
}

TEST_F(HookInstallerTest, WritingReplacesTheFileWhole) {
    // Missing folders are created.
    const QString deep = home() + "/a/b/c/hooks.json";
    ASSERT_TRUE(hooks.writeHookConfig(QJsonObject{{"k", 1}}, deep));
    EXPECT_EQ(readObject(deep), (QJsonObject{{"k", 1}}));

    // The file's permissions survive the replacement, and no temporary file is left behind.
    QFile::setPermissions(deep, QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_TRUE(hooks.writeHookConfig(QJsonObject{{"k", 2}}, deep));
    EXPECT_EQ(QFile::permissions(deep) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
    EXPECT_EQ(QDir(home() + "/a/b/c").entryList(QDir::Files | QDir::Hidden), QStringList{"hooks.json"});

    // A symbolic link stays a link; its target gets the new content.
    const QString real = home() + "/dotfiles/claude.json";
    writeFile(real, "{}");
    QDir().mkpath(home() + "/.claude");
    ASSERT_TRUE(QFile::link(real, claude().configPath));
    ASSERT_TRUE(hooks.writeHookConfig(QJsonObject{{"k", 3}}, claude().configPath));
    EXPECT_TRUE(QFileInfo(claude().configPath).isSymLink());
    EXPECT_EQ(readObject(real), (QJsonObject{{"k", 3}}));

    // A folder that cannot exist (a file stands in its place): false, nothing else changes.
    writeFile(home() + "/blocker", "keep");
    EXPECT_FALSE(hooks.writeHookConfig(QJsonObject{{"k", 4}}, home() + "/blocker/hooks.json"));
    EXPECT_EQ(readFile(home() + "/blocker"), "keep");
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
                    if (it.key() != "hooks") { EXPECT_EQ(after.value(it.key()), it.value()) << it.key().toStdString(); }
                EXPECT_EQ(hooks.isInstalled(claude()), installing);
            } else {
                EXPECT_EQ(readFile(claude().configPath), content);
                EXPECT_EQ(log.countPart("which writing the file again would change; the file was left unchanged"), 1);
            }
        }
    }
}

// A configuration file with a second hard link: both names still share one file afterwards, and
// both see each change.
TEST_F(HookInstallerTest, AHardLinkedFileKeepsAllItsNames) {
    makeBridge();
    writeFile(claude().configPath, R"({"theme": "dark"})");
    const QString other = home() + "/dotfiles-settings.json";
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
    EXPECT_EQ(readObject(other).value("theme"), "dark");

    ASSERT_TRUE(hooks.uninstall(claude()));
    EXPECT_TRUE(sameFile());
    EXPECT_EQ(readObject(other), (QJsonObject{{"hooks", QJsonObject()}, {"theme", "dark"}}));
    EXPECT_EQ(QDir(home()).entryList(QDir::Files | QDir::Hidden), QStringList{"dotfiles-settings.json"})
        << "no temporary file is left behind";
}

// A file that cannot be written is reported with its path and the reason, and install says so.
TEST_F(HookInstallerTest, AFailedWriteIsLogged) {
    makeBridge();
    writeFile(home() + "/.claude", "a plain file where the folder should be");
    EXPECT_FALSE(hooks.install(claude()));
    const QStringList lines = log.lines().filter("could not be written");
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith("[Vocalynx] Hook file " + claude().configPath + " could not be written: "));
    EXPECT_GT(lines[0].size(), QString("[Vocalynx] Hook file " + claude().configPath + " could not be written: ").size())
        << "the reason follows";
    EXPECT_EQ(readFile(home() + "/.claude"), "a plain file where the folder should be");
}

}  // namespace
