#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>

#include "SettingsTestFixture.h"
#include "windows/AboutSettingsPane.h"
#include "windows/LicensesSheet.h"

namespace vocalynx::test {
namespace {

TEST_F(SettingsFixture, EachUpdateCheckPressPostsOneNotification) {
    int posted = 0;
    rt.notifications.addObserver(notifications::vocalynxCheckForUpdates, [&](const std::any& object) {
        ++posted;
        EXPECT_FALSE(object.has_value());
    });
    AboutSettingsPane pane(env);
    EXPECT_TRUE(pane.updateNote()->isHidden());
    pane.updateButton()->click();
    EXPECT_EQ(posted, 1);
    // The press says where updates come from here.
    EXPECT_FALSE(pane.updateNote()->isHidden());
    EXPECT_EQ(pane.updateNote()->text(), QStringLiteral("更新随发行版的软件包提供，请用系统的软件包管理器更新"));
    pane.updateButton()->click();
    EXPECT_EQ(posted, 2);
    pane.resize(560, 380);
    renderArtifact(pane, QStringLiteral("settings-about-after-update-press"));
}

TEST_F(SettingsFixture, LogsFolderIsCreatedOffTheMainThreadAndThenRevealed) {
    const QString logs = rt.paths().logs;
    ASSERT_FALSE(QFileInfo::exists(QFileInfo(logs).absolutePath())) << "its parents are missing too";
    AboutSettingsPane pane(env);
    pane.logsButton()->click();
    EXPECT_TRUE(opened.empty()) << "nothing happens on the pressing thread";
    rt.time.runUntilIdle();
    EXPECT_TRUE(QFileInfo(logs).isDir());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(logs));
    EXPECT_TRUE(QDir(logs).isEmpty()) << "nothing is written into it";

    pane.logsButton()->click();  // an existing folder is just revealed again
    rt.time.runUntilIdle();
    EXPECT_EQ(opened.size(), 2u);
}

TEST_F(SettingsFixture, LinksOpenTheirAddressesAndMalformedOnesNothing) {
    AboutSettingsPane pane(env);
    const auto rows = pane.linkRows();
    ASSERT_EQ(rows.size(), 4);
    QStringList titles;
    for (AboutLinkRow* row : rows) {
        titles << row->title();
        row->click();
    }
    EXPECT_EQ(titles, (QStringList{QStringLiteral("官网"), QStringLiteral("开发者"), QStringLiteral("报告 Bug"),
                                   QStringLiteral("发送反馈")}));
    ASSERT_EQ(opened.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(opened[i].toString(), rows[static_cast<int>(i)]->url());

    opened.clear();
    for (const QString& bad : {QStringLiteral("http://exa mple.com/"), QString(), QStringLiteral("not a url")})
        openLink(bad, env.openUrl);
    EXPECT_TRUE(opened.empty());
}

TEST_F(SettingsFixture, VersionLineWithAndWithoutAShortVersion) {
    AboutSettingsPane pane(env);
    EXPECT_EQ(pane.versionLabel(), QStringLiteral("Vocalynx v1.0.0"));

    TestRuntime bare{InfoDictionary()};
    SettingsEnvironment bareEnv{bare.runtime(), config};
    AboutSettingsPane barePane(bareEnv);
    EXPECT_EQ(barePane.versionLabel(), QStringLiteral("Vocalynx v"));
}

TEST_F(SettingsFixture, EscapeClosesTheLicencesSheetAndTheRowOpensItAgain) {
    QWidget window;
    auto* pane = new AboutSettingsPane(env, &window);
    window.resize(390, 380);
    pane->resize(390, 380);
    window.show();
    pane->licensesButton()->click();
    ASSERT_TRUE(pane->showingLicenses());
    LicensesSheet* sheet = pane->licensesSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->size(), QSize(500, 400));
    renderArtifact(*sheet, QStringLiteral("settings-licenses"));
    // The long texts scroll with the forms' thin scroll bar.
    auto* scroll = sheet->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_LE(scroll->verticalScrollBar()->width(), 10);
    EXPECT_FALSE(hasArrowButtons(scroll->verticalScrollBar()));

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(sheet, &escape);
    EXPECT_FALSE(pane->showingLicenses());
    EXPECT_FALSE(sheet->isVisible());

    pane->licensesButton()->click();
    ASSERT_TRUE(pane->showingLicenses());
    ASSERT_NE(pane->licensesSheet(), nullptr);
    auto* done = pane->licensesSheet()->findChild<QAbstractButton*>(QStringLiteral("doneButton"));
    ASSERT_NE(done, nullptr);
    done->click();
    EXPECT_FALSE(pane->showingLicenses());
}

TEST(LicenseEntriesTest, ThreeComponentsWithTheirWholeLicences) {
    const auto& entries = licenseEntries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, QStringLiteral("Coli"));
    EXPECT_EQ(entries[1].name, QStringLiteral("Sparkle"));
    EXPECT_EQ(entries[2].name, QStringLiteral("Sentry"));
    for (const LicenseEntry& e : entries) {
        SCOPED_TRACE(e.name.toStdString());
        EXPECT_TRUE(QUrl(e.url, QUrl::StrictMode).isValid());
        EXPECT_TRUE(e.license.contains(QStringLiteral("Permission is hereby granted, free of charge")));
        EXPECT_TRUE(e.license.contains(QStringLiteral("THE SOFTWARE IS PROVIDED \"AS IS\"")));
        EXPECT_TRUE(e.license.trimmed().endsWith(QStringLiteral("SOFTWARE.")));
        EXPECT_TRUE(e.license.contains(QLatin1Char('\n')));
    }
    EXPECT_TRUE(entries[0].license.startsWith(QStringLiteral("The MIT License (MIT)\n\nCopyright")));
    EXPECT_TRUE(entries[1].license.contains(QStringLiteral("Big Nerd Ranch.\nAll rights reserved.\n\nPermission")));
    EXPECT_TRUE(entries[2].license.startsWith(QStringLiteral("The MIT License (MIT)\n\nCopyright")));
}

}  // namespace
}  // namespace vocalynx::test
