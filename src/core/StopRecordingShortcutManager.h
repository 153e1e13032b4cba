#pragma once
#include <optional>

#include "core/ConfigStore.h"
#include "core/DictationControl.h"
#include "core/WeakHandle.h"
#include "platform/Executor.h"
#include "platform/GlobalHotKeys.h"
#include "platform/Logger.h"

namespace vocalynx {

// Registers the stop-recording shortcut as a system-wide hot key and forwards its presses to the
// speech engine. One hot key at a time; lives on the main queue.
class StopRecordingShortcutManager {
public:
    StopRecordingShortcutManager(ConfigStore& config, DictationControl& whisperEngine, GlobalHotKeys& hotKeys,
                                 MainQueue& main, Logger& log);
    ~StopRecordingShortcutManager();

    // Installs the handler (once), drops the previous hot key, then registers the shortcut that
    // the settings store holds now (callers store a new shortcut first, then register). A key that
    // the system refuses or does not have is logged and kept in status() for the settings pane.
    void registerShortcut();

    enum class KeyState {
        none,         // nothing registered yet
        active,       // the shortcut's presses reach us
        taken,        // another program holds the key: it never fires
        unavailable,  // no such key here (or no window system): nothing is registered
    };
    KeyState status() const { return status_; }

    // The hot-key handler: a press of our identifier stops a running dictation. Returns the
    // handler status (0 = handled or not ours).
    static int stopRecordingHotKeyHandler(const HotKeyID* event, StopRecordingShortcutManager* userData);

    bool hasHotKey() const { return hotKeyRef_.has_value(); }
    static constexpr HotKeyID kHotKeyID{HotKeyID::fourCharCode("VLNX"), 1};

private:
    ConfigStore& config_;
    DictationControl& whisperEngine_;
    GlobalHotKeys& hotKeys_;
    std::optional<GlobalHotKeys::Ref> hotKeyRef_;
    KeyState status_ = KeyState::none;
    bool eventHandlerInstalled_ = false;
    HotKeyID hotKeyID_ = kHotKeyID;
    MainQueue& main_;
    Logger& log_;
    // The installed handler holds this weakly: the hot keys may outlive the manager.
    WeakFactory<StopRecordingShortcutManager> weak_;
};

}  // namespace vocalynx
