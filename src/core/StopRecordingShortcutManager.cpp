#include "core/StopRecordingShortcutManager.h"

namespace vocalynx {

StopRecordingShortcutManager::StopRecordingShortcutManager(ConfigStore& config, DictationControl& whisperEngine,
                                                           GlobalHotKeys& hotKeys)
    : config_(config), whisperEngine_(whisperEngine), hotKeys_(hotKeys) {}

void StopRecordingShortcutManager::registerShortcut() {
    if (!eventHandlerInstalled_)
        eventHandlerInstalled_ =
            hotKeys_.installHandler([this](const HotKeyID& id) { stopRecordingHotKeyHandler(&id, this); });
    if (hotKeyRef_) {
        hotKeys_.unregisterHotKey(*hotKeyRef_);
        hotKeyRef_.reset();
    }
    const KeyboardShortcut shortcut = config_.stopRecordingShortcut();
    // A refused key is not an error here: it simply never fires.
    hotKeyRef_ = hotKeys_.registerHotKey(shortcut.keyCode, shortcut.modifiers, hotKeyID_);
}

int StopRecordingShortcutManager::stopRecordingHotKeyHandler(const HotKeyID* event,
                                                             StopRecordingShortcutManager* userData) {
    if (!userData || !event) return 0;
    if (event->id == userData->hotKeyID_.id && event->signature == userData->hotKeyID_.signature)
        userData->whisperEngine_.handleStopShortcut();
    return 0;
}

}  // namespace vocalynx
