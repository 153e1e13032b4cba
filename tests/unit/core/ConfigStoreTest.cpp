#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>

#include "TestRuntime.h"
#include "core/ConfigStore.h"

using namespace vocalynx;
using vocalynx::test::TestRuntime;

class ConfigStoreTest : public ::testing::Test {
protected:
    // Writes a raw value into the store's file the way another run would have left it.
    void storeRaw(const QString& key, const QVariant& value) {
        QSettings raw(store.filePath(), QSettings::IniFormat);
        raw.setValue(key, value);
        raw.sync();
    }
    TestRuntime rt;
    ConfigStore store{rt.runtime()};
};

TEST_F(ConfigStoreTest, DefaultsWhenNothingIsStored) {
    EXPECT_EQ(store.action(GestureType::single), Action::toggleRecording());
    EXPECT_EQ(store.action(GestureType::double_), Action::simulateEnter());
    EXPECT_EQ(store.action(GestureType::triple), Action::simulateEsc());
    EXPECT_EQ(store.injectionMode(), InjectionMode::keyboard);
    EXPECT_EQ(store.stopRecordingShortcut(), KeyboardShortcut::defaultShortcut());
    EXPECT_EQ(store.stopRecordingVoicePhrase(), QStringLiteral("就这样喵"));
    EXPECT_EQ(store.preferredDisplay(), PreferredDisplay::automatic());
    for (SoundType s : kAllSoundTypes) EXPECT_TRUE(store.isSoundEnabled(s));
}

TEST_F(ConfigStoreTest, GestureMappings) {
    struct Case {
        const char* json;
        Action single, double_, triple;
    };
    const Case cases[] = {
        // One stored gesture; the others keep their defaults.
        {R"({"single": {"type": "simulateEnter"}})", Action::simulateEnter(), Action::simulateEnter(),
         Action::simulateEsc()},
        // A type that names no case decodes as none.
        {R"({"double": {"type": "explode"}})", Action::toggleRecording(), Action::none(), Action::simulateEsc()},
        // A value without a type spoils the whole object: every gesture falls back.
        {R"({"single": {"type": "simulateEsc"}, "triple": {"text": "x"}})", Action::toggleRecording(),
         Action::simulateEnter(), Action::simulateEsc()},
        // Not JSON at all.
        {"{{{", Action::toggleRecording(), Action::simulateEnter(), Action::simulateEsc()},
        {R"({"triple": {"type": "sendText", "text": "好的"}})", Action::toggleRecording(), Action::simulateEnter(),
         Action::sendText(QStringLiteral("好的"))},
    };
    for (const auto& c : cases) {
        storeRaw(store.mappingKey, QByteArray(c.json));
        EXPECT_EQ(store.action(GestureType::single), c.single) << c.json;
        EXPECT_EQ(store.action(GestureType::double_), c.double_) << c.json;
        EXPECT_EQ(store.action(GestureType::triple), c.triple) << c.json;
    }
}

TEST_F(ConfigStoreTest, InjectionModeReadsOnlyClipboardAsClipboard) {
    for (const auto& [stored, mode] :
         std::vector<std::pair<QString, InjectionMode>>{{QStringLiteral("clipboard"), InjectionMode::clipboard},
                                                        {QStringLiteral("keyboard"), InjectionMode::keyboard},
                                                        {QStringLiteral("Clipboard"), InjectionMode::keyboard},
                                                        {QStringLiteral(""), InjectionMode::keyboard}}) {
        storeRaw(store.injectionModeKey, stored);
        EXPECT_EQ(store.injectionMode(), mode) << stored.toStdString();
    }
}

TEST_F(ConfigStoreTest, ShortcutWritePostsAndUndecodableReadsDefault) {
    std::vector<KeyboardShortcut> posted;
    rt.notifications.addObserver(notifications::stopRecordingShortcutDidChange, [&](const std::any& o) {
        posted.push_back(std::any_cast<KeyboardShortcut>(o));
    });
    store.setStopRecordingShortcut({40, 0x900});
    EXPECT_EQ(store.stopRecordingShortcut(), (KeyboardShortcut{40, 0x900}));
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0], (KeyboardShortcut{40, 0x900}));
    storeRaw(store.stopRecordingShortcutKey, QByteArray(R"({"keyCode": 40})"));
    EXPECT_EQ(store.stopRecordingShortcut(), KeyboardShortcut::defaultShortcut());
}

// A stored shortcut that would swallow a typed key everywhere, or that names no key, gives way to
// the default for good, and the log says so once.
TEST_F(ConfigStoreTest, AnUnusableStoredShortcutIsReplacedByTheDefault) {
    struct Case {
        const char* stored;
        const char* logLine;
    };
    const Case cases[] = {
        {R"({"keyCode": 18, "modifiers": 512})",
         "[Vocalynx] Stored stop shortcut keyCode=18 modifiers=512 is not usable, replaced by the default"},
        {R"({"keyCode": 0, "modifiers": 0})",
         "[Vocalynx] Stored stop shortcut keyCode=0 modifiers=0 is not usable, replaced by the default"},
        {R"({"keyCode": 300, "modifiers": 256})",
         "[Vocalynx] Stored stop shortcut keyCode=300 modifiers=256 is not usable, replaced by the default"},
        {"not json", "[Vocalynx] Stored stop shortcut cannot be read, replaced by the default"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        rt.log.clear();
        storeRaw(store.stopRecordingShortcutKey, QByteArray(c.stored));
        EXPECT_EQ(store.stopRecordingShortcut(), KeyboardShortcut::defaultShortcut());
        EXPECT_EQ(rt.log.lines(), QStringList{QString::fromUtf8(c.logLine)});
        EXPECT_EQ(QSettings(store.filePath(), QSettings::IniFormat).value(store.stopRecordingShortcutKey).toByteArray(),
                  KeyboardShortcut::defaultShortcut().toJsonData());
        EXPECT_EQ(store.stopRecordingShortcut(), KeyboardShortcut::defaultShortcut());
        EXPECT_EQ(rt.log.lines().size(), 1) << "replaced once";
    }
    // A usable shortcut without Super, and an F-key alone, stay as stored.
    for (const KeyboardShortcut kept : {KeyboardShortcut{18, KeyboardShortcut::kControl | KeyboardShortcut::kShift},
                                        KeyboardShortcut{96, 0}}) {
        store.setStopRecordingShortcut(kept);
        EXPECT_EQ(store.stopRecordingShortcut(), kept);
    }
}

TEST_F(ConfigStoreTest, VoicePhraseIsTrimmedAndNeverEmpty) {
    storeRaw(store.stopRecordingVoicePhraseKey, QStringLiteral("   "));
    EXPECT_EQ(store.stopRecordingVoicePhrase(), QStringLiteral("就这样喵"));
    store.setStopRecordingVoicePhrase(QStringLiteral("  好了  \n"));
    EXPECT_EQ(QSettings(store.filePath(), QSettings::IniFormat).value(store.stopRecordingVoicePhraseKey).toString(),
              QStringLiteral("好了"));
    EXPECT_EQ(store.stopRecordingVoicePhrase(), QStringLiteral("好了"));
    store.setStopRecordingVoicePhrase(QStringLiteral("\t"));
    EXPECT_EQ(store.stopRecordingVoicePhrase(), QStringLiteral("就这样喵"));
}

TEST_F(ConfigStoreTest, PreferredDisplayRoundTripAndNotification) {
    int posts = 0;
    rt.notifications.addObserver(notifications::preferredDisplayDidChange, [&](const std::any& o) {
        ++posts;
        EXPECT_EQ(std::any_cast<PreferredDisplay>(o), PreferredDisplay::screen(QStringLiteral("screen:HDMI-1")));
    });
    store.setPreferredDisplay(PreferredDisplay::screen(QStringLiteral("screen:HDMI-1")));
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(store.preferredDisplay(), PreferredDisplay::screen(QStringLiteral("screen:HDMI-1")));
    storeRaw(store.preferredDisplayKey, QStringLiteral("HDMI-1"));
    EXPECT_EQ(store.preferredDisplay(), PreferredDisplay::automatic());
}

TEST_F(ConfigStoreTest, SoundSwitchesAreKeptPerCue) {
    store.setSoundEnabled(SoundType::agentStart, false);
    EXPECT_FALSE(store.isSoundEnabled(SoundType::agentStart));
    EXPECT_TRUE(store.isSoundEnabled(SoundType::agentComplete));
    EXPECT_EQ(QSettings(store.filePath(), QSettings::IniFormat).value("sound_enabled_agentStart").toBool(), false);
    // A second instance on the same domain sees the same values.
    ConfigStore other(rt.runtime());
    EXPECT_FALSE(other.isSoundEnabled(SoundType::agentStart));
}

TEST(ConfigStoreFailure, UnwritableFileIsReportedOnceAndValuesStayUsable) {
    TestRuntime rt;
    // A plain file where the settings folder should be: nothing can be saved there, even as root.
    QDir().mkpath(QFileInfo(rt.paths().config).absolutePath());
    QFile blocker(rt.paths().config);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ConfigStore store(rt.runtime());
    store.setStopRecordingVoicePhrase(QStringLiteral("second"));
    store.setSoundEnabled(SoundType::cancel, false);
    store.setPreferredDisplay(PreferredDisplay::builtin());
    EXPECT_EQ(store.stopRecordingVoicePhrase(), QStringLiteral("second"));
    EXPECT_FALSE(store.isSoundEnabled(SoundType::cancel));
    EXPECT_EQ(store.preferredDisplay(), PreferredDisplay::builtin());
    EXPECT_EQ(rt.log.countPart("Settings could not be saved"), 1);
}

// A file with a line that cannot be read is reported once, as that, when it is opened; the
// readable settings stay and the next change writes the file anew. Only a save that truly fails
// is reported as one, also after such a file.
TEST(ConfigStoreFailure, DamagedFileIsReportedAsUnreadableNotAsUnsaved) {
    const struct {
        const char* name;
        bool saveFails;
    } cases[] = {{"the file can be written", false}, {"the folder is gone when saving", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestRuntime rt;
        const QString path = PreferencesDomain::fileFor(rt.paths().config, QStringLiteral("com.vocalynx.app"));
        QDir().mkpath(rt.paths().config);
        {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("[General]\nstop_recording_voice_phrase=kept\nthis line has no equals sign\n");
        }
        ConfigStore store(rt.runtime());
        EXPECT_EQ(store.stopRecordingVoicePhrase(), QStringLiteral("kept"));
        EXPECT_EQ(rt.log.countPart("has lines that could not be read"), 1);
        if (c.saveFails) {
            ASSERT_TRUE(QDir().rename(rt.paths().config, rt.paths().config + QStringLiteral(".moved")));
            QFile blocker(rt.paths().config);
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        }
        store.setSoundEnabled(SoundType::cancel, false);
        store.setPreferredDisplay(PreferredDisplay::builtin());
        EXPECT_FALSE(store.isSoundEnabled(SoundType::cancel));
        EXPECT_EQ(store.preferredDisplay(), PreferredDisplay::builtin());
        EXPECT_EQ(rt.log.countPart("Settings could not be saved"), c.saveFails ? 1 : 0);
        EXPECT_EQ(rt.log.countPart("has lines that could not be read"), 1);
        if (!c.saveFails) {
            QSettings written(path, QSettings::IniFormat);
            EXPECT_EQ(written.value(store.stopRecordingVoicePhraseKey).toString(), QStringLiteral("kept"));
            EXPECT_EQ(written.value(ConfigStore::soundKey(SoundType::cancel)).toBool(), false);
            EXPECT_EQ(written.status(), QSettings::NoError) << "written anew without the unreadable line";
        }
    }
}
