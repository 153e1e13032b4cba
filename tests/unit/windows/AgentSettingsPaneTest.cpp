#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include "SettingsTestFixture.h"
#include "core/HookInstaller.h"
#include "windows/AgentSettingsPane.h"
#include "windows/SettingsStyle.h"

namespace vocalynx::test {
namespace {

class AgentSettingsPaneTest : public SettingsFixture {
protected:
    const HookInstaller::AgentConfig& agent(const QString& name) const {
        for (const auto& a : hooks.agents())
            if (a.name == name) return a;
        throw std::runtime_error("no such agent");
    }
    void makeFolderOf(const QString& name) { QDir().mkpath(QFileInfo(agent(name).configPath).path()); }
    // Shows the pane and lets its background reads come back.
    void showPane(AgentSettingsPane& pane) {
        pane.show();
        rt.time.runUntilIdle();
    }
    static QString statusOf(AgentHookRow* row) { return row->findChild<QLabel*>(QStringLiteral("agentStatus"))->text(); }

};

TEST_F(AgentSettingsPaneTest, OneRowPerAgentInOrderShowingWhatIsThere) {
    makeFolderOf(QStringLiteral("Claude Code"));  // the folder alone counts, without a file
    AgentSettingsPane pane(env);
    showPane(pane);
    QStringList names;
    for (auto* row : pane.findChildren<AgentHookRow*>()) names << row->agent().name;
    EXPECT_EQ(names, (QStringList{QStringLiteral("Claude Code"), QStringLiteral("Codex"), QStringLiteral("Cursor")}));

    AgentHookRow* claude = pane.row(QStringLiteral("Claude Code"));
    EXPECT_TRUE(claude->available());
    EXPECT_EQ(statusOf(claude), QStringLiteral("未连接"));
    EXPECT_EQ(claude->statusColor(), ui::secondary());
    EXPECT_TRUE(claude->toggle()->isVisible());
    EXPECT_FALSE(claude->toggle()->isChecked());

    AgentHookRow* codex = pane.row(QStringLiteral("Codex"));
    EXPECT_FALSE(codex->available());
    EXPECT_EQ(statusOf(codex), QStringLiteral("未检测到"));
    EXPECT_EQ(codex->statusColor(), ui::secondary());
    EXPECT_FALSE(codex->toggle()->isVisible()) << "an agent that is not there has no switch";
}

TEST_F(AgentSettingsPaneTest, SwitchingOffRemovesTheHookAndShowsTheFileState) {
    makeFolderOf(QStringLiteral("Claude Code"));
    ASSERT_TRUE(hooks.install(agent(QStringLiteral("Claude Code"))));
    AgentSettingsPane pane(env);
    showPane(pane);
    AgentHookRow* claude = pane.row(QStringLiteral("Claude Code"));
    EXPECT_EQ(statusOf(claude), QStringLiteral("已连接"));
    EXPECT_EQ(claude->statusColor(), ui::green());
    EXPECT_TRUE(claude->toggle()->isChecked());

    claude->toggle()->click();
    EXPECT_FALSE(claude->toggle()->isEnabled()) << "no second change while one is on its way";
    rt.time.runUntilIdle();
    EXPECT_FALSE(hooks.isInstalled(agent(QStringLiteral("Claude Code"))));
    EXPECT_EQ(statusOf(claude), QStringLiteral("未连接"));
    EXPECT_FALSE(claude->toggle()->isChecked());
    EXPECT_TRUE(claude->toggle()->isEnabled());

    claude->toggle()->click();
    rt.time.runUntilIdle();
    EXPECT_TRUE(hooks.isInstalled(agent(QStringLiteral("Claude Code"))));
    EXPECT_TRUE(claude->toggle()->isChecked());
}

TEST_F(AgentSettingsPaneTest, AnInstallThatLeavesNoHookFallsBackToOff) {
    // A configuration the installer will not touch: not a JSON object.
    const QString path = agent(QStringLiteral("Cursor")).configPath;
    makeFolderOf(QStringLiteral("Cursor"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[1, 2]");
    file.close();

    AgentSettingsPane pane(env);
    showPane(pane);
    AgentHookRow* cursor = pane.row(QStringLiteral("Cursor"));
    cursor->toggle()->click();
    rt.time.runUntilIdle();
    EXPECT_FALSE(cursor->toggle()->isChecked());
    EXPECT_EQ(statusOf(cursor), QStringLiteral("未连接"));
    QFile check(path);
    ASSERT_TRUE(check.open(QIODevice::ReadOnly));
    EXPECT_EQ(check.readAll(), QByteArray("[1, 2]"));
}

TEST_F(AgentSettingsPaneTest, ARowGoneBeforeItsReadComesBackIsLeftAlone) {
    makeFolderOf(QStringLiteral("Codex"));
    {
        AgentSettingsPane pane(env);
        pane.show();
        pane.row(QStringLiteral("Codex"))->setHookInstalled(true);
    }
    rt.time.runUntilIdle();  // the change and the reads finish after the rows are gone
    EXPECT_TRUE(hooks.isInstalled(agent(QStringLiteral("Codex"))));
}

TEST_F(AgentSettingsPaneTest, Renders) {
    makeFolderOf(QStringLiteral("Claude Code"));
    makeFolderOf(QStringLiteral("Cursor"));
    ASSERT_TRUE(hooks.install(agent(QStringLiteral("Claude Code"))));
    AgentSettingsPane pane(env);
    pane.resize(390, 380);
    showPane(pane);
    renderArtifact(pane, QStringLiteral("settings-agents-pane"));
}

}  // namespace
}  // namespace vocalynx::test
