// Text injection, key actions and the stop-recording hot key against the private X server: a real
// Qt text field of this test program has the focus, and XTest events reach it through the server.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include "FakeDictationControl.h"
#include "FakeSoundOutput.h"
#include "LiveRuntime.h"
#include "core/ActionExecutor.h"
#include "core/ConfigStore.h"
#include "core/PreferencesDomain.h"
#include "core/SoundFeedback.h"
#include "core/StopRecordingShortcutManager.h"
#include "core/TextInjector.h"
#include "platform/linux/QtClipboard.h"
#include "platform/linux/X11GlobalHotKeys.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/XTestKeyInjection.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include "XlibQtNames.h"

namespace vocalynx::test {
namespace {

// A focused window with one text field that records the keys it was sent.
class TargetWindow : public QWidget {
public:
    TargetWindow() {
        auto* layout = new QVBoxLayout(this);
        field = new QLineEdit(this);
        layout->addWidget(field);
        field->installEventFilter(this);
        resize(400, 80);
    }
    bool focusIt() {
        show();
        raise();
        activateWindow();
        field->setFocus();
        return processEventsUntil([this] { return isActiveWindow() && field->hasFocus(); });
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) keys.push_back(static_cast<QKeyEvent*>(event)->key());
        return false;
    }
    QLineEdit* field;
    std::vector<int> keys;
};

class X11Injection : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(session.display(), nullptr) << "the tests need the private X server (DISPLAY)";
        ASSERT_TRUE(session.hasXTest());
        ASSERT_TRUE(window.focusIt()) << "the test window did not get the keyboard focus";
    }
    void setInjectionMode(InjectionMode mode) {
        PreferencesDomain(config.filePath(), rt.log).setValue(config.injectionModeKey, injectionModeName(mode));
    }

    LiveRuntime rt;
    ConfigStore config{rt};
    X11Session session;
    XTestKeyInjection keys{session};
    QtClipboard clipboard;
    TextInjector injector{rt, keys, clipboard};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    FakeDictationControl engine;
    ActionExecutor executor{config, engine, injector, keys, sounds, rt};
    TargetWindow window;
};

const QString kMixedText = QStringLiteral("Hello, 世界 ✓ 🎉");

TEST_F(X11Injection, KeyboardModeTypesAnyUnicodeText) {
    injector.injectText(kMixedText, InjectionMode::keyboard);
    EXPECT_TRUE(processEventsUntil([&] { return window.field->text() == kMixedText; }))
        << "typed: " << window.field->text().toStdString();
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Keyboard injection done (%1 chars)").arg(kMixedText.size())));
    // A later plain text still types correctly once the spare keys have been reused.
    window.field->clear();
    injector.injectText(QStringLiteral("àé ß 東京"), InjectionMode::keyboard);
    EXPECT_TRUE(processEventsUntil([&] { return window.field->text() == QStringLiteral("àé ß 東京"); }))
        << "typed: " << window.field->text().toStdString();
}

TEST_F(X11Injection, ClipboardModePastesAndTheClipboardKeepsTheText) {
    injector.injectText(kMixedText, InjectionMode::clipboard);
    EXPECT_TRUE(processEventsUntil([&] { return window.field->text() == kMixedText; }))
        << "pasted: " << window.field->text().toStdString();
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Cmd+V posted")));
    EXPECT_EQ(QApplication::clipboard()->text(), kMixedText);
}

TEST_F(X11Injection, EnterAndEscapeActionsReachTheFocusedWindow) {
    executor.execute(Action::simulateEnter());
    executor.execute(Action::simulateEsc());
    EXPECT_TRUE(processEventsUntil([&] { return window.keys.size() >= 2; }));
    EXPECT_EQ(window.keys, (std::vector<int>{Qt::Key_Return, Qt::Key_Escape}));
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Key posted: 36")));
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Key posted: 53")));
}

TEST_F(X11Injection, DictationCompletionTypesTheFinalTextInTheModeOfThatMoment) {
    setInjectionMode(InjectionMode::clipboard);
    executor.execute(Action::toggleRecording());
    ASSERT_TRUE(engine.completion);
    setInjectionMode(InjectionMode::keyboard);
    engine.completion(QStringLiteral("你好 world"));
    EXPECT_TRUE(processEventsUntil([&] { return window.field->text() == QStringLiteral("你好 world"); }));
    EXPECT_TRUE(rt.log.containsPart(QStringLiteral("[Vocalynx] Injecting text (keyboard): 你好 world...")));
}

// The hot key is pressed through XTest exactly as a user would press it.
class X11HotKey : public X11Injection {
protected:
    void press(uint16_t keyCode, uint64_t flags) { ASSERT_TRUE(keys.postKey(keyCode, flags)); }
    bool sawStopShortcuts(int count) {
        return processEventsUntil([&] { return engine.stopShortcuts >= count; }, 5000) && engine.stopShortcuts == count;
    }
    // Round trip to the server and a short drain, so that a press that would fire has fired.
    void settle() {
        processEventsUntil([] { return false; }, 300);
    }

    void tapCapsLock() {
        const KeyCode code = XKeysymToKeycode(session.display(), XK_Caps_Lock);
        ASSERT_NE(code, 0);
        XTestFakeKeyEvent(session.display(), code, 1, CurrentTime);
        XTestFakeKeyEvent(session.display(), code, 0, CurrentTime);
        XFlush(session.display());
    }

    X11GlobalHotKeys hotKeys{session};
    StopRecordingShortcutManager manager{config, engine, hotKeys, rt.runtime().main, rt.log};
    static constexpr uint64_t kCommandFlag = 0x100000;
    static constexpr uint64_t kOptionFlag = 0x80000;
};

TEST_F(X11HotKey, DefaultShortcutStopsARunningDictationOnly) {
    manager.registerShortcut();
    press(41, kCommandFlag);  // Super+semicolon while idle: the engine ignores it
    ASSERT_TRUE(sawStopShortcuts(1));
    EXPECT_EQ(engine.stops, 0);
    engine.currentState = RecordingState::recording;
    press(41, kCommandFlag);
    ASSERT_TRUE(sawStopShortcuts(2));
    EXPECT_EQ(engine.stops, 1);
    EXPECT_EQ(engine.currentState, RecordingState::transcribing);
    // The grabbed chord never reached the focused window; a plain semicolon does.
    press(41, 0);
    EXPECT_TRUE(processEventsUntil([&] { return window.field->text() == QStringLiteral(";"); }));
    EXPECT_EQ(engine.stopShortcuts, 2);
}

TEST_F(X11HotKey, AChangedShortcutTakesEffectAndTheOldOneNoLongerFires) {
    manager.registerShortcut();
    config.setStopRecordingShortcut(KeyboardShortcut{40, KeyboardShortcut::kCommand | KeyboardShortcut::kOption});  // Super+Alt+K
    manager.registerShortcut();
    engine.currentState = RecordingState::recording;
    press(41, kCommandFlag);
    settle();
    EXPECT_EQ(engine.stopShortcuts, 0);
    press(40, kCommandFlag | kOptionFlag);
    EXPECT_TRUE(sawStopShortcuts(1));
    EXPECT_EQ(engine.stops, 1);
}

TEST_F(X11HotKey, FiresWithCapsLockOn) {
    manager.registerShortcut();
    tapCapsLock();  // Caps Lock is a lock key: one press turns it on
    engine.currentState = RecordingState::recording;
    press(41, kCommandFlag);
    EXPECT_TRUE(sawStopShortcuts(1));
    tapCapsLock();
}

}  // namespace
}  // namespace vocalynx::test

namespace vocalynx::test {
namespace {

// Without any X server: nothing is trusted, keyboard typing falls back to the clipboard with both
// lines, keys are not posted, and a hot key registers without crashing and never fires.
TEST(X11WithoutDisplay, FallsBackAndSurvives) {
    LiveRuntime rt;
    X11Session session("unix:nonexistent-display:57");
    ASSERT_EQ(session.display(), nullptr);
    ConfigStore config{rt};
    XTestKeyInjection keys{session};
    QtClipboard clipboard;
    TextInjector injector{rt, keys, clipboard};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    FakeDictationControl engine;
    ActionExecutor executor{config, engine, injector, keys, sounds, rt};

    injector.injectText(QStringLiteral("abc"), InjectionMode::keyboard);
    EXPECT_TRUE(rt.log.containsPart(QStringLiteral(" keyboard injection unavailable accessibility=false")));
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Accessibility not trusted, falling back to clipboard")));
    EXPECT_EQ(clipboard.text(), QStringLiteral("abc"));  // left there for the user to paste

    executor.execute(Action::simulateEnter());
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] AXIsProcessTrusted: false")));
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Cannot simulate key - no accessibility permission")));
    EXPECT_FALSE(rt.log.containsPart(QStringLiteral("Key posted")));

    X11GlobalHotKeys hotKeys{session};
    StopRecordingShortcutManager manager{config, engine, hotKeys, rt.runtime().main, rt.log};
    manager.registerShortcut();
    manager.registerShortcut();
    EXPECT_EQ(engine.stopShortcuts, 0);
}

}  // namespace
}  // namespace vocalynx::test
