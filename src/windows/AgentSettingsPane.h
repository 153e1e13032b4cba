#pragma once
#include <QWidget>
#include <memory>

#include "core/HookInstaller.h"
#include "core/WeakHandle.h"
#include "windows/FormWidgets.h"
#include "windows/SettingsEnvironment.h"

class QLabel;

namespace vocalynx {

// One coding agent: its name, whether it is present and connected, and a switch that installs or
// removes our hook. The file work runs off the main thread; the row then shows the state read
// back from the file, and its switch waits until that has arrived.
class AgentHookRow : public QWidget {
    Q_OBJECT
public:
    AgentHookRow(HookInstaller::AgentConfig agent, SettingsEnvironment& environment, QWidget* parent = nullptr);
    ~AgentHookRow() override;

    const HookInstaller::AgentConfig& agent() const { return agent_; }
    bool installed() const { return installed_; }
    bool available() const { return available_; }
    // True while a refresh or a change is on its way.
    bool busy() const { return busy_; }

    // Re-reads whether the agent's folder exists and whether its file holds our hook.
    void refreshHookState();
    // The switch: installs or removes the hook, then reads the state back from the file.
    void setHookInstalled(bool on);

    QString statusText() const;
    QColor statusColor() const;
    SwitchToggle* toggle() const { return toggle_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void runThenRead(std::function<void(HookInstaller&, const HookInstaller::AgentConfig&)> change);
    void refresh();

    HookInstaller::AgentConfig agent_;
    SettingsEnvironment& env_;
    bool installed_ = false;
    bool available_ = false;
    bool busy_ = false;
    QLabel* status_;
    SwitchToggle* toggle_;
    // Background work holds the row weakly, so late results are dropped once it is gone.
    WeakFactory<AgentHookRow> weak_;
};

// The "集成" pane: one row per coding agent.
class AgentSettingsPane : public GroupedForm {
    Q_OBJECT
public:
    explicit AgentSettingsPane(SettingsEnvironment& environment, QWidget* parent = nullptr);
    AgentHookRow* row(const QString& name) const;
};

}  // namespace vocalynx
