#include "core/StopRecordingShortcutManager.h"

namespace vocalynx {

StopRecordingShortcutManager::StopRecordingShortcutManager(ConfigStore& config, DictationControl& whisperEngine,
                                                           GlobalHotKeys& hotKeys, MainQueue& main, Logger& log)
    : config_(config),
      whisperEngine_(whisperEngine),
      hotKeys_(hotKeys),
      main_(main),
      log_(log),
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
    hotKeyRef_ = hotKeys_.registerHotKey(shortcut.keyCode, shortcut.modifiers, hotKeyID_);
    // The user must learn of a shortcut that cannot stop a dictation. A refused key keeps its
    // reference: registering again once the other program has let go takes the key.
    const QString keys = QStringLiteral("keyCode=") + QString::number(shortcut.keyCode) + QStringLiteral(" modifiers=") +
                         QString::number(shortcut.modifiers);
    if (!hotKeyRef_) {
        status_ = KeyState::unavailable;
        log_.line(QStringLiteral("[Vocalynx] Stop shortcut ") + keys +
                  QStringLiteral(" could not be registered: no such key on this keyboard or no window system"));
    } else if (!hotKeys_.isHeld(*hotKeyRef_)) {
        status_ = KeyState::taken;
        log_.line(QStringLiteral("[Vocalynx] Stop shortcut ") + keys +
                  QStringLiteral(" is held by another program; it will not stop a dictation"));
    } else {
        status_ = KeyState::active;
    }
}

int StopRecordingShortcutManager::stopRecordingHotKeyHandler(const HotKeyID* event,
                                                             StopRecordingShortcutManager* userData) {
    if (!userData || !event) return 0;
    if (event->id == userData->hotKeyID_.id && event->signature == userData->hotKeyID_.signature)
        userData->whisperEngine_.handleStopShortcut();
    return 0;
}

}  // namespace vocalynx
