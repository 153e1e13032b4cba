#pragma once
#include "windows/FormWidgets.h"
#include "windows/SettingsEnvironment.h"

namespace vocalynx {

// The "集成" pane: one row per coding agent with its connection state and a switch.
class AgentSettingsPane : public GroupedForm {
    Q_OBJECT
public:
    explicit AgentSettingsPane(SettingsEnvironment& environment, QWidget* parent = nullptr);
};

}  // namespace vocalynx
