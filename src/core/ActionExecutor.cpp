#include "core/ActionExecutor.h"

#include "core/Text.h"

namespace vocalynx {

ActionExecutor::ActionExecutor(ConfigStore& config, DictationControl& whisperEngine, TextInjector& injector,
                               KeyEventInjection& keys, SoundFeedback& sounds, Runtime& runtime)
    : config_(config),
      whisperEngine_(whisperEngine),
      injector_(injector),
      keys_(keys),
      sounds_(sounds),
      runtime_(runtime),
      weak_(this, &runtime.main, "ActionExecutor") {}

ActionExecutor::~ActionExecutor() { weak_.invalidate(); }

void ActionExecutor::execute(const Action& action) {
    assertOnSequence(runtime_.main, "ActionExecutor::execute");
    switch (action.kind) {
    case Action::Kind::simulateHotkey:
        postKey(action.keyCode, action.modifiers);
        break;
    case Action::Kind::sendText:
        if (!action.text.isEmpty()) injector_.injectText(action.text, config_.injectionMode());
        break;
    case Action::Kind::simulateEnter:
        runtime_.log.line(QStringLiteral("[Vocalynx] Simulating Enter"));
        sounds_.play(SoundType::confirm);
        postKey(kKeyReturn, 0);
        break;
    case Action::Kind::simulateEsc:
        runtime_.log.line(QStringLiteral("[Vocalynx] Simulating Esc"));
        sounds_.play(SoundType::cancel);
        postKey(kKeyEscape, 0);
        break;
    case Action::Kind::toggleRecording:
        toggleRecording();
        break;
    case Action::Kind::none:
        break;
    }
}

void ActionExecutor::toggleRecording() {
    switch (whisperEngine_.state()) {
    case RecordingState::idle: {
        // The engine hands over the final text on the main thread.
        whisperEngine_.startRecording([weak = weak_.weak()](const QString& finalText) {
            ActionExecutor* executor = weak.get();
            if (!executor || finalText.isEmpty()) return;
            // The mode is read when the text arrives: the user may have changed it meanwhile.
            executor->injector_.injectText(finalText, executor->config_.injectionMode());
        });
        break;
    }
    case RecordingState::recording:
        whisperEngine_.stopRecording();
        break;
    case RecordingState::transcribing:
    case RecordingState::collapsing:
        break;
    }
}

void ActionExecutor::postKey(uint16_t keyCode, uint64_t flags) {
    assertOnSequence(runtime_.main, "ActionExecutor::postKey");
    const bool trusted = keys_.canInjectKeys();
    runtime_.log.line(QStringLiteral("[Vocalynx] AXIsProcessTrusted: ") + boolText(trusted));
    if (!trusted) {
        runtime_.log.line(QStringLiteral("[Vocalynx] Cannot simulate key - no accessibility permission"));
        return;
    }
    if (!keys_.canCreateEvents() || !keys_.postKey(keyCode, flags)) {
        runtime_.log.line(QStringLiteral("[Vocalynx] Failed to create CGEvent"));
        return;
    }
    runtime_.log.line(QStringLiteral("[Vocalynx] Key posted: ") + QString::number(keyCode));
}

}  // namespace vocalynx
