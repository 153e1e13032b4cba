#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QSettings>
#include <QLineEdit>
#include <QVBoxLayout>

#include "SettingsTestFixture.h"
#include "platform/linux/KeyTable.h"
#include "windows/GeneralSettingsPane.h"
#include "windows/ShortcutRecorderButton.h"

#include <X11/X.h>
#include <X11/keysym.h>
// X names its event types with macros that clash with Qt's.
#undef KeyPress
#undef KeyRelease

namespace vocalynx::test {
namespace {

// A key press as the X platform plugin delivers it: the produced keysym and the X modifier state.
bool sendKeyPress(QWidget* target, unsigned long keysym, unsigned int xState, const QString& text = {}) {
    QKeyEvent event(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, 0, static_cast<quint32>(keysym), xState, text);
    QApplication::sendEvent(target, &event);
    return event.isAccepted();
}

class ShortcutRecorderTest : public SettingsFixture {
protected:
    ShortcutRecorderTest() {
        auto* layout = new QVBoxLayout(&window);
        field = new QLineEdit(&window);
        recorder = new ShortcutRecorderButton(
            &hostShortcut,
            [this](const KeyboardShortcut& s) {
                updates.push_back(s);
                EXPECT_EQ(hostShortcut, s) << "the binding is written before the callback";
            },
            &keyCodes, &window);
        layout->addWidget(field);
        layout->addWidget(recorder);
        window.show();
        field->setFocus();
    }

    QWidget window;
    QLineEdit* field;
    ShortcutRecorderButton* recorder;
    KeyboardShortcut hostShortcut = KeyboardShortcut::defaultShortcut();
    std::vector<KeyboardShortcut> updates;
};

TEST_F(ShortcutRecorderTest, KeyPressesAreTestedInOrder) {
    constexpr uint64_t cmd = KeyboardShortcut::kFlagCommand, shift = KeyboardShortcut::kFlagShift,
                       opt = KeyboardShortcut::kFlagOption, ctrl = KeyboardShortcut::kFlagControl;
    constexpr uint64_t capsLock = 0x10000, function = 0x800000;
    struct Case {
        const char* name;
        std::optional<uint32_t> keyCode;
        uint64_t flags;
        bool stillRecording;
        std::optional<KeyboardShortcut> recorded;
        bool refused = false;  // the control says a modifier is missing
    };
    const Case cases[] = {
        {"command-K", 40, cmd, false, KeyboardShortcut{40, 0x100}},
        {"shift alone would take the key from every application", 18, shift, true, std::nullopt, true},
        {"control-shift-1", 18, ctrl | shift, false, KeyboardShortcut{18, 0x1200}},
        {"every modifier", 41, cmd | opt | ctrl | shift, false, KeyboardShortcut{41, 0x1B00}},
        {"no modifier keeps recording", 0, 0, true, std::nullopt, true},
        {"caps lock and function do not count", 0, capsLock | function, true, std::nullopt, true},
        {"an F-key needs no modifier", 96, 0, false, KeyboardShortcut{96, 0}},
        {"shift-F-key", 122, shift, false, KeyboardShortcut{122, 0x200}},
        {"escape ends without recording", 53, 0, false, std::nullopt},
        {"escape with command is still escape", 53, cmd, false, std::nullopt},
        {"a key without a code keeps recording", std::nullopt, cmd, true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hostShortcut = KeyboardShortcut::defaultShortcut();
        updates.clear();
        recorder->startRecording();
        const QSize recordingSize = recorder->sizeHint();
        recorder->handleRecordedKey(c.keyCode, c.flags);
        EXPECT_EQ(recorder->isRecording(), c.stillRecording);
        EXPECT_EQ(recorder->hasMonitor(), c.stillRecording);
        EXPECT_EQ(recorder->showsRefusal(), c.refused);
        if (c.refused) {
            EXPECT_GT(recorder->sizeHint().width(), recordingSize.width()) << "the whole text has room";
        }
        if (c.recorded) {
            ASSERT_EQ(updates.size(), 1u);
            EXPECT_EQ(updates[0], *c.recorded);
        } else {
            EXPECT_TRUE(updates.empty());
            EXPECT_EQ(hostShortcut, KeyboardShortcut::defaultShortcut());
        }
        recorder->stopRecording();
    }
}

TEST_F(ShortcutRecorderTest, ReadsXKeyEventsIntoPlatformCodesAndCarbonModifiers) {
    struct Case {
        const char* name;
        unsigned long keysym;
        unsigned int state;
        KeyboardShortcut expected;
    };
    const Case cases[] = {
        {"super-k", XK_k, Mod4Mask, {40, 0x100}},
        {"control-shift-A arrives as the capital letter", XK_A, ShiftMask | ControlMask, {0, 0x1200}},
        {"super-alt-shift-K", XK_K, Mod4Mask | Mod1Mask | ShiftMask, {40, 0x100 | 0x800 | 0x200}},
        {"control-F5", XK_F5, ControlMask, {96, 0x1000}},
        {"caps lock and num lock dropped", XK_semicolon, Mod4Mask | LockMask | Mod2Mask, {41, 0x100}},
        {"keypad enter is return", XK_KP_Enter, ControlMask, {36, 0x1000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        updates.clear();
        recorder->startRecording();
        sendKeyPress(field, c.keysym, c.state);
        ASSERT_EQ(updates.size(), 1u);
        EXPECT_EQ(updates[0], c.expected);
        EXPECT_FALSE(recorder->isRecording());
    }
}

TEST_F(ShortcutRecorderTest, EveryKeyOfTheKeyNameTableCanBeRecorded) {
    for (uint32_t code = 0; code < 128; ++code) {
        const auto keysym = KeyTable::keysymForKeyCode(code);
        if (!keysym || code == ShortcutRecorderButton::kEscapeKeyCode) continue;
        updates.clear();
        recorder->startRecording();
        sendKeyPress(field, *keysym, ControlMask);
        ASSERT_EQ(updates.size(), 1u) << "code " << code;
        EXPECT_EQ(updates[0], (KeyboardShortcut{code, KeyboardShortcut::kControl})) << "code " << code;
    }
}

TEST_F(ShortcutRecorderTest, WhileRecordingNoKeyReachesAnyWidget) {
    recorder->startRecording();
    // A plain letter, a modifier key on its own, and then Escape: none reaches the field.
    sendKeyPress(field, XK_a, 0, QStringLiteral("a"));
    sendKeyPress(field, XK_Super_L, 0);
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_EQ(field->text(), QString());
    sendKeyPress(field, XK_Escape, Mod4Mask);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(hostShortcut, KeyboardShortcut::defaultShortcut());
    // Once recording ends keys go where they used to.
    sendKeyPress(field, XK_a, 0, QStringLiteral("a"));
    EXPECT_EQ(field->text(), QStringLiteral("a"));
}

TEST_F(ShortcutRecorderTest, ClickingTwiceOrDisappearingRemovesTheMonitor) {
    recorder->startRecording();
    recorder->startRecording();  // a second start never leaves two monitors behind
    EXPECT_TRUE(recorder->hasMonitor());
    recorder->stopRecording();
    EXPECT_FALSE(recorder->hasMonitor());
    EXPECT_TRUE(updates.empty());

    recorder->startRecording();
    recorder->hide();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_FALSE(recorder->hasMonitor());
    sendKeyPress(field, XK_k, Mod4Mask);
    EXPECT_TRUE(updates.empty());
}

TEST_F(ShortcutRecorderTest, ARefusedKeyIsSaidUntilAUsableOneIsRecorded) {
    recorder->startRecording();
    sendKeyPress(field, XK_1, ShiftMask, QStringLiteral("!"));
    EXPECT_TRUE(recorder->showsRefusal());
    const QImage refused = renderArtifact(*recorder, QStringLiteral("shortcut-recorder-refused"));
    EXPECT_EQ(refused.size(), recorder->sizeHint() * 2);
    EXPECT_EQ(field->text(), QString()) << "the refused key reaches no widget";
    sendKeyPress(field, XK_1, ShiftMask | ControlMask);
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0], (KeyboardShortcut{18, KeyboardShortcut::kControl | KeyboardShortcut::kShift}));
    EXPECT_FALSE(recorder->showsRefusal());
    recorder->startRecording();
    EXPECT_FALSE(recorder->showsRefusal()) << "each recording starts without the message";
}

TEST_F(ShortcutRecorderTest, ShowsKeyCapsAtRestAndTheRecordingTextWhileRecording) {
    hostShortcut = {40, KeyboardShortcut::kCommand | KeyboardShortcut::kOption | KeyboardShortcut::kShift};
    recorder->updateGeometry();
    const QSize rest = recorder->sizeHint();
    const QImage caps = renderArtifact(*recorder, QStringLiteral("shortcut-recorder-rest"));
    EXPECT_EQ(caps.size(), rest * 2) << "every key cap is drawn whole";
    recorder->startRecording();
    const QImage recording = renderArtifact(*recorder, QStringLiteral("shortcut-recorder-recording"));
    EXPECT_NE(recorder->sizeHint(), rest);
    EXPECT_EQ(recording.size(), recorder->sizeHint() * 2) << "the whole recording text is drawn";
    // The accent-coloured border is drawn only while recording.
    const QColor edge = recording.pixelColor(recording.width() / 2, 1);
    EXPECT_GT(edge.blue(), 200);
    EXPECT_LT(edge.red(), 120);
}

// The general pane's recorder stores the shortcut first and then registers it, so the hot key
// follows the new shortcut at once.
TEST_F(SettingsFixture, RecordingInTheGeneralPaneStoresThenRegistersTheShortcut) {
    stopShortcut.registerShortcut();
    GeneralSettingsPane pane(env);
    pane.show();
    pane.shortcutRecorder()->startRecording();
    QKeyEvent event(QEvent::KeyPress, Qt::Key_K, Qt::MetaModifier | Qt::ShiftModifier, 0, XK_K, Mod4Mask | ShiftMask);
    QApplication::sendEvent(&pane, &event);

    EXPECT_EQ(config.stopRecordingShortcut(), (KeyboardShortcut{40, 768}));
    QSettings stored(config.filePath(), QSettings::IniFormat);
    EXPECT_EQ(QJsonDocument::fromJson(stored.value(config.stopRecordingShortcutKey).toByteArray()).object(),
              (QJsonObject{{QStringLiteral("keyCode"), 40}, {QStringLiteral("modifiers"), 768}}));
    engine.currentState = RecordingState::recording;
    EXPECT_FALSE(hotKeys.press(41, 256)) << "the old hot key is gone";
    EXPECT_TRUE(hotKeys.press(40, 768));
    EXPECT_EQ(pane.stopShortcut(), (KeyboardShortcut{40, 768}));
}

// Where the shortcut is set, the pane says when it cannot stop a dictation, and stops saying so
// once a shortcut that works is recorded.
TEST_F(SettingsFixture, TheGeneralPaneSaysWhenTheShortcutIsHeldElsewhere) {
    hotKeys.takenElsewhere.insert({41, 256});
    stopShortcut.registerShortcut();
    GeneralSettingsPane pane(env);
    pane.show();
    EXPECT_TRUE(pane.shortcutProblem()->isVisible());
    EXPECT_EQ(pane.shortcutProblem()->text(), QStringLiteral("此快捷键已被其他程序占用，请换一个"));
    renderArtifact(pane, QStringLiteral("general-pane-shortcut-taken"));

    pane.shortcutRecorder()->startRecording();
    QKeyEvent event(QEvent::KeyPress, Qt::Key_K, Qt::MetaModifier, 0, XK_k, Mod4Mask);
    QApplication::sendEvent(&pane, &event);
    EXPECT_EQ(config.stopRecordingShortcut(), (KeyboardShortcut{40, 256}));
    EXPECT_FALSE(pane.shortcutProblem()->isVisible());
}

}  // namespace
}  // namespace vocalynx::test
