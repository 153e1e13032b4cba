// The shortcut recorder reading real key presses that the private X server delivers to its window:
// the X keysym and modifier state of each press become the platform key code and Carbon mask.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include "LiveRuntime.h"
#include "core/Types.h"
#include "platform/linux/X11KeyCodeReader.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/XTestKeyInjection.h"
#include "windows/ShortcutRecorderButton.h"

namespace vocalynx::test {
namespace {

class ShortcutRecorderX11 : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(session.display(), nullptr) << "the tests need the private X server (DISPLAY)";
        auto* layout = new QVBoxLayout(&window);
        field = new QLineEdit(&window);
        recorder = new ShortcutRecorderButton(&shortcut, [this](const KeyboardShortcut& s) { updates.push_back(s); },
                                              &reader, &window);
        layout->addWidget(field);
        layout->addWidget(recorder);
        window.resize(300, 80);
        window.show();
        window.raise();
        window.activateWindow();
        field->setFocus();
        ASSERT_TRUE(processEventsUntil([this] { return window.isActiveWindow() && field->hasFocus(); }));
    }

    QApplication& app = guiApplication();
    X11Session session;
    X11KeyCodeReader reader{&session};
    XTestKeyInjection keys{session};
    QWidget window;
    QLineEdit* field = nullptr;
    ShortcutRecorderButton* recorder = nullptr;
    KeyboardShortcut shortcut = KeyboardShortcut::defaultShortcut();
    std::vector<KeyboardShortcut> updates;
};

TEST_F(ShortcutRecorderX11, RecordsRealKeyPressesWithTheirUnshiftedKey) {
    constexpr uint64_t cmd = KeyboardShortcut::kFlagCommand, shift = KeyboardShortcut::kFlagShift,
                       ctrl = KeyboardShortcut::kFlagControl;
    struct Case {
        const char* name;
        uint16_t keyCode;
        uint64_t flags;
        KeyboardShortcut expected;
    };
    const Case cases[] = {
        {"command-shift-K", 40, cmd | shift, {40, 0x300}},
        // Shift turns the 1 key's symbol into "!"; the recorder still sees the 1 key.
        {"control-shift-1", 18, ctrl | shift, {18, 0x1200}},
        {"command-semicolon", 41, cmd, {41, 0x100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        updates.clear();
        recorder->startRecording();
        ASSERT_TRUE(keys.postKey(c.keyCode, c.flags));
        ASSERT_TRUE(processEventsUntil([this] { return !updates.empty(); })) << "no key press was recorded";
        EXPECT_EQ(updates.front(), c.expected);
        EXPECT_EQ(shortcut, c.expected);
        EXPECT_FALSE(recorder->isRecording());
    }
    EXPECT_EQ(field->text(), QString()) << "no recorded key reached the text field";
}

// Shift+1 as the user presses it: refused and said, so that no "!" is ever taken from the desktop.
TEST_F(ShortcutRecorderX11, ShiftWithAKeyIsRefused) {
    recorder->startRecording();
    ASSERT_TRUE(keys.postKey(18, KeyboardShortcut::kFlagShift));
    ASSERT_TRUE(processEventsUntil([this] { return recorder->showsRefusal(); })) << "the refusal is shown";
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_TRUE(updates.empty());
    EXPECT_EQ(shortcut, KeyboardShortcut::defaultShortcut());
    ASSERT_TRUE(keys.postKey(53, 0));  // Escape
    ASSERT_TRUE(processEventsUntil([this] { return !recorder->isRecording(); }));
    EXPECT_EQ(field->text(), QString());
}

TEST_F(ShortcutRecorderX11, PlainKeysAreSwallowedAndEscapeEnds) {
    recorder->startRecording();
    ASSERT_TRUE(keys.postKey(0, 0));  // A
    ASSERT_TRUE(keys.postKey(53, 0));  // Escape
    ASSERT_TRUE(processEventsUntil([this] { return !recorder->isRecording(); }));
    EXPECT_TRUE(updates.empty());
    EXPECT_EQ(field->text(), QString());
    // Afterwards the field types again.
    ASSERT_TRUE(keys.postKey(0, 0));
    EXPECT_TRUE(processEventsUntil([this] { return field->text() == QStringLiteral("a"); }));
}

}  // namespace
}  // namespace vocalynx::test
