#pragma once
#include <memory>

#include "core/ConfigStore.h"
#include "core/DictationControl.h"
#include "core/SoundFeedback.h"
#include "core/TextInjector.h"
#include "core/Types.h"
#include "core/WeakHandle.h"
#include "platform/KeyEventInjection.h"
#include "platform/Runtime.h"

namespace vocalynx {

// Runs the action a gesture triggers: posts keys, toggles the dictation or types text.
// Never reports failure to its caller.
class ActionExecutor {
public:
    ActionExecutor(ConfigStore& config, DictationControl& whisperEngine, TextInjector& injector,
                   KeyEventInjection& keys, SoundFeedback& sounds, Runtime& runtime);
    ~ActionExecutor();

    void execute(const Action& action);
    // One key press, down then up, with the flag mask held; needs the trust check to pass.
    void postKey(uint16_t keyCode, uint64_t flags);

    static constexpr uint16_t kKeyReturn = 36;
    static constexpr uint16_t kKeyEscape = 53;

private:
    void toggleRecording();

    ConfigStore& config_;
    DictationControl& whisperEngine_;
    TextInjector& injector_;
    KeyEventInjection& keys_;
    SoundFeedback& sounds_;
    Runtime& runtime_;
    // The dictation completion holds this weakly: an executor that is gone injects nothing.
    WeakFactory<ActionExecutor> weak_;
};

}  // namespace vocalynx
