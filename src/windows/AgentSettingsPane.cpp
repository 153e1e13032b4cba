#include "windows/AgentSettingsPane.h"

namespace vocalynx {

AgentSettingsPane::AgentSettingsPane(SettingsEnvironment& environment, QWidget* parent) : GroupedForm(parent) {
    addSection(QStringLiteral("连接"));
}

}  // namespace vocalynx
