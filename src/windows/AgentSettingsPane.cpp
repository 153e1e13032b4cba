#include "windows/AgentSettingsPane.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QShowEvent>
#include <QVBoxLayout>

#include "windows/SettingsStyle.h"

namespace vocalynx {

AgentHookRow::AgentHookRow(HookInstaller::AgentConfig agent, SettingsEnvironment& environment, QWidget* parent)
    : QWidget(parent),
      agent_(std::move(agent)),
      env_(environment),
      weak_(this, &environment.runtime.main, "AgentHookRow") {
    setObjectName(agent_.name);
    auto* row = new QHBoxLayout(this);
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    column->addWidget(makeLabel(agent_.name, ui::systemFont(13, QFont::Medium), ui::primary(), this));
    status_ = makeLabel({}, ui::systemFont(11), ui::secondary(), this);
    status_->setObjectName(QStringLiteral("agentStatus"));
    column->addWidget(status_);
    row->addLayout(column);
    row->addStretch(1);
    toggle_ = new SwitchToggle(this);
    // The switch shows what the file holds: a click asks for the change, and the position then
    // follows the state read back.
    connect(toggle_, &QAbstractButton::clicked, this, [this](bool on) {
        toggle_->setChecked(installed_);
        setHookInstalled(on);
    });
    row->addWidget(toggle_, 0, Qt::AlignVCenter);
    refresh();
}

AgentHookRow::~AgentHookRow() { weak_.invalidate(); }

void AgentHookRow::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) refreshHookState();
    QWidget::showEvent(event);
}

void AgentHookRow::refreshHookState() {
    runThenRead(nullptr);
}

void AgentHookRow::setHookInstalled(bool on) {
    runThenRead([on](HookInstaller& hooks, const HookInstaller::AgentConfig& agent) {
        // The result is not reported: the installer logs its own failures, and the state read
        // back afterwards is what the row shows.
        if (on)
            hooks.install(agent);
        else
            hooks.uninstall(agent);
    });
}

void AgentHookRow::runThenRead(std::function<void(HookInstaller&, const HookInstaller::AgentConfig&)> change) {
    if (!env_.hooks) return;
    busy_ = true;
    refresh();
    HookInstaller* hooks = env_.hooks;
    const HookInstaller::AgentConfig agent = agent_;
    MainQueue& main = env_.runtime.main;
    const WeakRef<AgentHookRow> link = weak_.weak();
    env_.runtime.queues.global().post([hooks, agent, change, &main, link] {
        if (change) change(*hooks, agent);
        // The agent counts as present when its configuration folder exists, file or not.
        const bool available = QFileInfo::exists(QFileInfo(agent.configPath).path());
        const bool installed = hooks->isInstalled(agent);
        main.post([link, available, installed] {
            if (AgentHookRow* row = link.get()) {
                row->available_ = available;
                row->installed_ = installed;
                row->busy_ = false;
                row->refresh();
            }
        });
    });
}

QString AgentHookRow::statusText() const {
    if (!available_) return QStringLiteral("未检测到");
    return installed_ ? QStringLiteral("已连接") : QStringLiteral("未连接");
}

QColor AgentHookRow::statusColor() const { return available_ && installed_ ? ui::green() : ui::secondary(); }

void AgentHookRow::refresh() {
    status_->setText(statusText());
    QPalette pal = status_->palette();
    pal.setColor(QPalette::WindowText, statusColor());
    status_->setPalette(pal);
    // Without the agent's folder the row has no switch at all.
    toggle_->setVisible(available_);
    toggle_->setChecked(installed_);
    toggle_->setEnabled(!busy_);
}

AgentSettingsPane::AgentSettingsPane(SettingsEnvironment& environment, QWidget* parent) : GroupedForm(parent) {
    FormSection* section = addSection(QStringLiteral("连接"));
    if (!environment.hooks) return;
    for (const HookInstaller::AgentConfig& agent : environment.hooks->agents())
        section->addRow(new AgentHookRow(agent, environment));
}

AgentHookRow* AgentSettingsPane::row(const QString& name) const {
    for (auto* r : findChildren<AgentHookRow*>())
        if (r->agent().name == name) return r;
    return nullptr;
}

}  // namespace vocalynx
