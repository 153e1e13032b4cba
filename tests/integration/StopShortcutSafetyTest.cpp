// The stop shortcut against the private X server: a key another X client already holds is logged
// and shown in the settings pane instead of silently never firing, and a stored shortcut that would
// swallow a typed character for the whole desktop (Shift+1) is replaced by the default.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QVBoxLayout>
#include <QWidget>

#include "FakeDictationControl.h"
#include "LiveRuntime.h"
#include "core/ConfigStore.h"
#include "core/StopRecordingShortcutManager.h"
#include "platform/linux/X11GlobalHotKeys.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/XTestKeyInjection.h"
#include "windows/GeneralSettingsPane.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace vocalynx::test {
namespace {

constexpr uint64_t kSuperFlag = 0x100000;
constexpr uint64_t kShiftFlag = 0x20000;

class StopShortcutSafety : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(session.display(), nullptr) << "the tests need the private X server (DISPLAY)";
        ASSERT_NE(otherClient.display(), nullptr);
        auto* layout = new QVBoxLayout(&window);
        field = new QLineEdit(&window);
        layout->addWidget(field);
        window.resize(300, 60);
        window.show();
        window.raise();
        window.activateWindow();
        field->setFocus();
        ASSERT_TRUE(processEventsUntil([this] { return window.isActiveWindow() && field->hasFocus(); }));
    }
    void TearDown() override { releaseInOtherClient(); }

    // Another program's passive grab of Super+semicolon, as a desktop's own shortcut would hold it.
    void holdInOtherClient() {
        Display* d = otherClient.display();
        XGrabKey(d, XKeysymToKeycode(d, XK_semicolon), Mod4Mask, DefaultRootWindow(d), False, GrabModeAsync,
                 GrabModeAsync);
        XSync(d, False);
    }
    void releaseInOtherClient() {
        Display* d = otherClient.display();
        if (!d) return;
        XUngrabKey(d, XKeysymToKeycode(d, XK_semicolon), Mod4Mask, DefaultRootWindow(d));
        XSync(d, False);
    }

    QApplication& app = guiApplication();
    LiveRuntime rt;
    ConfigStore config{rt};
    FakeDictationControl engine;
    X11Session session;
    X11Session otherClient;  // a second connection: another client to the server
    X11GlobalHotKeys hotKeys{session};
    XTestKeyInjection keys{session};
    StopRecordingShortcutManager manager{config, engine, hotKeys, rt.runtime().main, rt.log};
    QWidget window;
    QLineEdit* field = nullptr;
};

TEST_F(StopShortcutSafety, AKeyAnotherClientHoldsIsLoggedAndShownWhereTheShortcutIsSet) {
    holdInOtherClient();
    manager.registerShortcut();
    EXPECT_EQ(manager.status(), StopRecordingShortcutManager::KeyState::taken);
    EXPECT_TRUE(rt.log.contains(
        "[Vocalynx] Stop shortcut keyCode=41 modifiers=256 is held by another program; it will not stop a dictation"));
    SettingsEnvironment env{rt, config};
    env.stopRecordingShortcut = &manager;
    {
        GeneralSettingsPane pane(env);
        pane.show();
        EXPECT_TRUE(pane.shortcutProblem()->isVisible());
        EXPECT_EQ(pane.shortcutProblem()->text(), QStringLiteral("此快捷键已被其他程序占用，请换一个"));
    }

    // Once the other program lets go, registering again takes the key and it stops a dictation.
    releaseInOtherClient();
    manager.registerShortcut();
    EXPECT_EQ(manager.status(), StopRecordingShortcutManager::KeyState::active);
    engine.currentState = RecordingState::recording;
    ASSERT_TRUE(keys.postKey(41, kSuperFlag));
    EXPECT_TRUE(processEventsUntil([&] { return engine.stops == 1; }));
}

TEST_F(StopShortcutSafety, AStoredShiftShortcutIsReplacedAndTheKeyStillTypes) {
    QSettings(config.filePath(), QSettings::IniFormat)
        .setValue(config.stopRecordingShortcutKey, KeyboardShortcut{18, KeyboardShortcut::kShift}.toJsonData());
    manager.registerShortcut();
    EXPECT_TRUE(rt.log.contains(
        "[Vocalynx] Stored stop shortcut keyCode=18 modifiers=512 is not usable, replaced by the default"));
    // Shift+1 reaches the focused field as "!", not the hot key.
    ASSERT_TRUE(keys.postKey(18, kShiftFlag));
    EXPECT_TRUE(processEventsUntil([&] { return field->text() == QStringLiteral("!"); }))
        << field->text().toStdString();
    EXPECT_EQ(engine.stopShortcuts, 0);
    // The default took its place.
    engine.currentState = RecordingState::recording;
    ASSERT_TRUE(keys.postKey(41, kSuperFlag));
    EXPECT_TRUE(processEventsUntil([&] { return engine.stops == 1; }));
}

}  // namespace
}  // namespace vocalynx::test
