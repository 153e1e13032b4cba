#pragma once
// Joins gestures to actions: the settings store gives the action for a gesture and the action
// executor runs it.

#include "core/ActionExecutor.h"
#include "core/ConfigStore.h"
#include "core/DictationControl.h"
#include "gestures/GestureEngine.h"
#include "platform/Runtime.h"

namespace vocalynx {

class GestureRouter {
public:
    GestureRouter(ConfigStore& configStore, ActionExecutor& actionExecutor) : config(configStore), executor(actionExecutor) {}
    ConfigStore& config;
    ActionExecutor& executor;
};

// The gesture entry callback of the launch road (main thread): logs
// "[Vocalynx][GestureEntry] <timestamp> event=<gesture> state=<engine state>", then looks the
// gesture's action up in the router's settings store and runs it with the router's executor.
void runGestureEntry(const GestureEvent& event, GestureRouter& router, const DictationControl& engine,
                     Runtime& runtime);

}  // namespace vocalynx
