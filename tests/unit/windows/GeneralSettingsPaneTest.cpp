#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QKeyEvent>

#include "FakeScreens.h"
#include "SettingsTestFixture.h"
#include "overlay/NotchGeometry.h"
#include "windows/GeneralSettingsPane.h"
#include "windows/ShortcutRecorderButton.h"

namespace vocalynx::test {
namespace {

ScreenDescription screenNamed(const QString& connector, const QString& name, bool builtIn, double x) {
    ScreenDescription s = plainScreen(QRectF(x, 0, 1440, 900), 24, connector, builtIn);
    s.displayName = name;
    return s;
}

TEST(DisplayOptionsTest, SharedNamesAreNumberedByTheirPositionInTheList) {
    const std::vector<ScreenDescription> screens{
        screenNamed(QStringLiteral("DP-1"), QStringLiteral("Dell U2720Q"), false, 0),
        screenNamed(QStringLiteral("eDP-1"), QStringLiteral("Built-in Display"), true, 1440),
        screenNamed(QStringLiteral("DP-2"), QStringLiteral("Dell U2720Q"), false, 2880),
    };
    const auto options = makeDisplayOptions(screens);
    ASSERT_EQ(options.size(), 3u);
    EXPECT_EQ(options[0], (DisplayOption{QStringLiteral("screen:DP-1"), QStringLiteral("Dell U2720Q #1")}));
    EXPECT_EQ(options[1], (DisplayOption{QStringLiteral("screen:eDP-1"), QStringLiteral("Built-in Display")}));
    EXPECT_EQ(options[2], (DisplayOption{QStringLiteral("screen:DP-2"), QStringLiteral("Dell U2720Q #3")}));
    EXPECT_TRUE(makeDisplayOptions({}).empty());
}

TEST(DisplayOptionsTest, PickerSelectionOfEachStoredPreference) {
    const std::vector<ScreenDescription> mixed{
        screenNamed(QStringLiteral("DP-1"), QStringLiteral("Dell"), false, 0),
        screenNamed(QStringLiteral("eDP-1"), QStringLiteral("Panel"), true, 1440)};
    const std::vector<ScreenDescription> externalOnly{
        screenNamed(QStringLiteral("DP-1"), QStringLiteral("Dell"), false, 0),
        screenNamed(QStringLiteral("DP-2"), QStringLiteral("LG"), false, 1440)};
    struct Case {
        const char* name;
        const std::vector<ScreenDescription>* screens;
        PreferredDisplay stored;
        PreferredDisplay shown;
    };
    const Case cases[] = {
        {"auto", &mixed, PreferredDisplay::automatic(), PreferredDisplay::automatic()},
        {"builtin finds the panel", &mixed, PreferredDisplay::builtin(),
         PreferredDisplay::screen(QStringLiteral("screen:eDP-1"))},
        {"external finds the first other", &mixed, PreferredDisplay::external(),
         PreferredDisplay::screen(QStringLiteral("screen:DP-1"))},
        {"builtin without a panel", &externalOnly, PreferredDisplay::builtin(), PreferredDisplay::automatic()},
        {"a listed screen", &externalOnly, PreferredDisplay::screen(QStringLiteral("screen:DP-2")),
         PreferredDisplay::screen(QStringLiteral("screen:DP-2"))},
        {"an unplugged screen", &mixed, PreferredDisplay::screen(QStringLiteral("screen:HDMI-1")),
         PreferredDisplay::automatic()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pickerSelection(c.stored, makeDisplayOptions(*c.screens), *c.screens), c.shown) << c.name;
}

// Key presses as the user types them into the focused field.
void type(QWidget* target, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &press);
    }
}
void press(QWidget* target, Qt::Key key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

class GeneralSettingsPaneTest : public SettingsFixture {
protected:
    GeneralSettingsPaneTest() {
        screens.list = {screenNamed(QStringLiteral("DP-1"), QStringLiteral("Dell"), false, 0),
                        screenNamed(QStringLiteral("eDP-1"), QStringLiteral("Panel"), true, 1440)};
        env.screens = &screens;
        rt.notifications.addObserver(notifications::preferredDisplayDidChange, [this](const std::any&) { ++displayPosts; });
    }
    QString storedDisplay() const {
        return QSettings(config.filePath(), QSettings::IniFormat).value(config.preferredDisplayKey).toString();
    }

    FakeScreenList screens;
    int displayPosts = 0;
};

TEST_F(GeneralSettingsPaneTest, AStoredKindIsRewrittenAsTheScreenItResolvedTo) {
    config.setPreferredDisplay(PreferredDisplay::builtin());
    displayPosts = 0;
    GeneralSettingsPane pane(env);
    pane.show();
    EXPECT_EQ(pane.displayPicker()->currentText(), QStringLiteral("Panel"));
    EXPECT_EQ(config.preferredDisplay(), PreferredDisplay::screen(QStringLiteral("screen:eDP-1")));
    EXPECT_EQ(displayPosts, 1);

    // Choosing the automatic entry stores it and tells the panel.
    pane.displayPicker()->setCurrentIndex(0);
    emit pane.displayPicker()->activated(0);
    EXPECT_EQ(storedDisplay(), QStringLiteral("auto"));
    EXPECT_EQ(displayPosts, 2);
}

TEST_F(GeneralSettingsPaneTest, AChoiceThatCannotBeShownStaysStored) {
    for (const PreferredDisplay& stored :
         {PreferredDisplay::screen(QStringLiteral("screen:HDMI-1")), PreferredDisplay::builtin()}) {
        SCOPED_TRACE(stored.storedValue().toStdString());
        if (stored.kind == PreferredDisplay::Kind::builtin)
            screens.list = {screenNamed(QStringLiteral("DP-1"), QStringLiteral("Dell"), false, 0)};
        config.setPreferredDisplay(stored);
        displayPosts = 0;
        GeneralSettingsPane pane(env);
        pane.show();
        EXPECT_EQ(pane.displayPicker()->currentIndex(), 0);
        EXPECT_EQ(pane.displayPicker()->currentText(), QStringLiteral("自动（当前显示器）"));
        EXPECT_EQ(config.preferredDisplay(), stored);
        EXPECT_EQ(displayPosts, 0);
    }
}

TEST_F(GeneralSettingsPaneTest, PickingAScreenStoresItsIdentifier) {
    GeneralSettingsPane pane(env);
    pane.show();
    QStringList entries;
    for (int i = 0; i < pane.displayPicker()->count(); ++i) entries << pane.displayPicker()->itemText(i);
    EXPECT_EQ(entries, (QStringList{QStringLiteral("自动（当前显示器）"), QStringLiteral("Dell"), QStringLiteral("Panel")}));
    pane.displayPicker()->setCurrentIndex(1);
    emit pane.displayPicker()->activated(1);
    EXPECT_EQ(storedDisplay(), QStringLiteral("screen:DP-1"));
}

TEST_F(GeneralSettingsPaneTest, ThePhraseIsStoredAtEveryKeystroke) {
    GeneralSettingsPane pane(env);
    pane.show();
    QLineEdit* field = pane.phraseField();
    EXPECT_EQ(field->text(), QStringLiteral("就这样喵"));
    field->selectAll();
    type(field, QStringLiteral("ok"));
    EXPECT_EQ(config.stopRecordingVoicePhrase(), QStringLiteral("ok"));
    press(field, Qt::Key_Backspace);
    EXPECT_EQ(config.stopRecordingVoicePhrase(), QStringLiteral("o"));
    press(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), QString()) << "the field keeps what was typed";
    EXPECT_EQ(config.stopRecordingVoicePhrase(), QStringLiteral("就这样喵")) << "an empty phrase stores the default";
    type(field, QStringLiteral("  完毕 "));
    press(field, Qt::Key_Return);
    EXPECT_EQ(config.stopRecordingVoicePhrase(), QStringLiteral("完毕"));
    EXPECT_EQ(field->text(), QStringLiteral("  完毕 "));
}

TEST_F(GeneralSettingsPaneTest, TheGestureLegendIsFixed) {
    config.setStopRecordingShortcut({40, 0x900});
    GeneralSettingsPane pane(env);
    pane.show();
    QStringList legend;
    for (auto* label : pane.findChildren<GestureLabel*>()) legend << label->objectName();
    EXPECT_EQ(legend, (QStringList{QStringLiteral("开始录音"), QStringLiteral("Enter"), QStringLiteral("Esc")}));
    EXPECT_EQ(pane.stopShortcut(), (KeyboardShortcut{40, 0x900}));
}

}  // namespace
}  // namespace vocalynx::test

namespace vocalynx::test {
namespace {

TEST_F(GeneralSettingsPaneTest, RendersTheWholePane) {
    GeneralSettingsPane pane(env);
    pane.resize(390, 640);
    pane.show();
    rt.time.runUntilIdle();
    renderArtifact(pane, QStringLiteral("settings-general-pane"));
}

}  // namespace
}  // namespace vocalynx::test
