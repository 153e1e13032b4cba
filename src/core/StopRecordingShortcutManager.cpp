#include "core/StopRecordingShortcutManager.h"

namespace vocalynx {

StopRecordingShortcutManager::StopRecordingShortcutManager(ConfigStore& config, DictationControl& whisperEngine,
                                                           GlobalHotKeys& hotKeys, MainQueue& main)
    : config_(config),
      whisperEngine_(whisperEngine),
      hotKeys_(hotKeys),
      main_(main),
      weak_(this, &main, "StopRecordingShortcutManager") {}

StopRecordingShortcutManager::~StopRecordingShortcutManager() { weak_.invalidate(); }

void StopRecordingShortcutManager::registerShortcut() {
    assertOnSequence(main_, "StopRecordingShortcutManager::registerShortcut");
    // The hot keys deliver presses on the main thread.
    if (!eventHandlerInstalled_)
        eventHandlerInstalled_ = hotKeys_.installHandler([weak = weak_.weak()](const HotKeyID& id) {
            stopRecordingHotKeyHandler(&id, weak.get());
        });
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
