#include <QLineEdit>
#include <QMouseEvent>

#include "SettingsTestFixture.h"
#include "windows/AboutSettingsPane.h"
#include "windows/AgentSettingsPane.h"
#include "windows/FormWidgets.h"
#include "windows/GeneralSettingsPane.h"
#include "windows/SettingsView.h"
#include "windows/ShortcutRecorderButton.h"
#include "windows/SoundSettingsPane.h"

namespace vocalynx::test {
namespace {

void clickRow(SettingsView& view, SettingsSection section) {
    SettingsSidebarRow* row = view.sidebarRow(section);
    ASSERT_NE(row, nullptr);
    const QPointF at(row->width() / 2.0, row->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, row->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(row, &press);
}

TEST(SettingsSectionTest, TitlesAndBuildingFromText) {
    struct Case {
        QString text;
        std::optional<SettingsSection> section;
    };
    const Case cases[] = {
        {QStringLiteral("通用"), SettingsSection::general}, {QStringLiteral("提示音"), SettingsSection::sounds},
        {QStringLiteral("集成"), SettingsSection::agents},  {QStringLiteral("关于"), SettingsSection::about},
        {QStringLiteral("About"), std::nullopt},          {QString(), std::nullopt},
        {QStringLiteral(" 关于"), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(settingsSectionFromString(c.text), c.section) << c.text.toStdString();
        if (c.section) {
            EXPECT_EQ(settingsSectionTitle(*c.section), c.text);
        }
    }
    EXPECT_EQ(qHash(SettingsSection::about), qHash(QStringLiteral("关于")));
}

TEST_F(SettingsFixture, ANewViewShowsTheGeneralSection) {
    SettingsView view(env);
    view.show();
    EXPECT_EQ(view.size(), QSize(600, 420));
    EXPECT_EQ(view.sidebar()->width(), 210);
    EXPECT_EQ(view.headerText(), QStringLiteral("通用"));
    EXPECT_NE(qobject_cast<GeneralSettingsPane*>(view.pane()), nullptr);
    for (SettingsSection s : kAllSettingsSections) EXPECT_EQ(view.sidebarRow(s)->isSelected(), s == SettingsSection::general);
}

TEST_F(SettingsFixture, SelectingASectionReplacesThePaneWithAFreshOne) {
    SettingsView view(env);
    view.show();
    QPointer<QWidget> firstGeneral = view.pane();

    clickRow(view, SettingsSection::agents);
    EXPECT_EQ(view.headerText(), QStringLiteral("集成"));
    EXPECT_NE(qobject_cast<AgentSettingsPane*>(view.pane()), nullptr);
    EXPECT_TRUE(firstGeneral.isNull()) << "the old pane is gone";
    EXPECT_TRUE(view.sidebarRow(SettingsSection::agents)->isSelected());
    EXPECT_FALSE(view.sidebarRow(SettingsSection::general)->isSelected());

    // A value changed elsewhere shows when the general pane is built again.
    config.setStopRecordingVoicePhrase(QStringLiteral("好了"));
    clickRow(view, SettingsSection::general);
    auto* general = qobject_cast<GeneralSettingsPane*>(view.pane());
    ASSERT_NE(general, nullptr);
    EXPECT_EQ(general->phraseField()->text(), QStringLiteral("好了"));

    clickRow(view, SettingsSection::sounds);
    EXPECT_NE(qobject_cast<SoundSettingsPane*>(view.pane()), nullptr);
    clickRow(view, SettingsSection::about);
    EXPECT_NE(qobject_cast<AboutSettingsPane*>(view.pane()), nullptr);
    EXPECT_EQ(view.sidebar()->width(), 210);
}

TEST_F(SettingsFixture, ArrowKeysInTheSidebarMoveTheSelection) {
    SettingsView view(env);
    view.show();
    clickRow(view, SettingsSection::general);  // gives the sidebar the focus
    auto press = [&](Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(view.sidebar(), &event);
    };
    press(Qt::Key_Up);
    EXPECT_EQ(view.selectedSection(), SettingsSection::general) << "nothing above the first section";
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    EXPECT_EQ(view.selectedSection(), SettingsSection::agents);
    EXPECT_EQ(view.headerText(), QStringLiteral("集成"));
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    EXPECT_EQ(view.selectedSection(), SettingsSection::about);
}

TEST_F(SettingsFixture, SwitchingPanesWhileRecordingAShortcutEndsTheRecording) {
    SettingsView view(env);
    view.show();
    auto* general = qobject_cast<GeneralSettingsPane*>(view.pane());
    general->shortcutRecorder()->startRecording();
    clickRow(view, SettingsSection::sounds);
    // A later key press goes to the window as usual and records nothing.
    QKeyEvent event(QEvent::KeyPress, Qt::Key_K, Qt::MetaModifier, 0, 0x6b, 0x40);
    QApplication::sendEvent(&view, &event);
    EXPECT_EQ(config.stopRecordingShortcut(), KeyboardShortcut::defaultShortcut());
    EXPECT_EQ(hotKeys.registrations, 0);
}

TEST_F(SettingsFixture, RendersEachSection) {
    QDir().mkpath(rt.paths().home + QStringLiteral("/.claude"));
    QDir().mkpath(rt.paths().home + QStringLiteral("/.cursor"));
    ASSERT_TRUE(hooks.install(hooks.agents()[0]));
    for (SettingsSection section : kAllSettingsSections) {
        SettingsView view(env, section);
        view.show();
        rt.time.runUntilIdle();
        const QString names[] = {QStringLiteral("general"), QStringLiteral("sounds"), QStringLiteral("agents"),
                                 QStringLiteral("about")};
        const QImage image = renderArtifact(view, QStringLiteral("settings-") + names[static_cast<int>(section)]);
        // The sidebar is drawn in its own colour, and the selected row's icon tile is not.
        EXPECT_EQ(image.pixelColor(4, 400 * 2).rgb(), QColor(0xE3, 0xE3, 0xE6).rgb());
    }
}

// Each pane at the window's size either fits (no scroll bar at all) or scrolls cleanly: a thin
// scroll bar without arrow buttons, and the form's end reachable with nothing cut off.
TEST_F(SettingsFixture, EachPaneFitsOrScrollsCleanlyAtTheWindowsSize) {
    QDir().mkpath(rt.paths().home + QStringLiteral("/.claude"));
    QDir().mkpath(rt.paths().home + QStringLiteral("/.codex"));
    QDir().mkpath(rt.paths().home + QStringLiteral("/.cursor"));
    const QString names[] = {QStringLiteral("general"), QStringLiteral("sounds"), QStringLiteral("agents"),
                             QStringLiteral("about")};
    for (SettingsSection section : kAllSettingsSections) {
        const QString name = names[static_cast<int>(section)];
        SCOPED_TRACE(name.toStdString());
        SettingsView view(env, section);
        view.show();
        rt.time.runUntilIdle();
        QCoreApplication::processEvents();
        auto* form = qobject_cast<GroupedForm*>(view.pane());
        if (!form) form = view.pane()->findChild<GroupedForm*>();
        ASSERT_NE(form, nullptr);
        QWidget* content = form->widget();
        QWidget* viewport = form->viewport();
        const auto sections = content->findChildren<FormSection*>();
        ASSERT_FALSE(sections.empty());
        EXPECT_LE(QRect(form->mapTo(&view, QPoint()), form->size()).bottom(), view.height() - 1);

        QScrollBar* bar = form->verticalScrollBar();
        const bool fits = content->minimumSizeHint().height() <= viewport->height();
        if (fits) {
            EXPECT_FALSE(bar->isVisible()) << "a pane that fits shows no scroll bar";
            EXPECT_EQ(bar->maximum(), 0);
        } else {
            EXPECT_TRUE(bar->isVisible()) << "a pane that does not fit shows that it scrolls";
            EXPECT_LE(bar->width(), 10) << "thin, like the rest of the form";
            EXPECT_FALSE(hasArrowButtons(bar));
            renderArtifact(view, QStringLiteral("settings-") + name + QStringLiteral("-top"));
            bar->setValue(bar->maximum());
            QCoreApplication::processEvents();
            renderArtifact(view, QStringLiteral("settings-") + name + QStringLiteral("-end"));
        }
        // Scrolled as far as it goes (or not at all), the last section is whole inside the viewport.
        FormSection* last = sections.back();
        const QRect lastBox(last->mapTo(viewport, QPoint()), last->size());
        EXPECT_GE(lastBox.top(), 0);
        EXPECT_LE(lastBox.bottom(), viewport->height() - 1) << "the end of the form is cut off";
    }
}

}  // namespace
}  // namespace vocalynx::test
