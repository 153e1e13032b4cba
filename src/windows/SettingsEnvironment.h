#pragma once
// What the settings window's panes work with, handed in by app/ (or by a test). Pieces that are
// absent leave their controls inert.

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

#include "core/ConfigStore.h"
#include "core/HookInstaller.h"
#include "platform/Executor.h"
#include "platform/ChildProcess.h"
#include "platform/KeyCodeReader.h"
#include "platform/Runtime.h"
#include "platform/Screens.h"

namespace vocalynx {

class SoundFeedback;
class StopRecordingShortcutManager;

// The speech program as the voice-model row needs it: where it is, the command that starts its
// streaming recogniser (the one the speech engine runs), and the launcher that starts it.
struct SpeechProgram {
    std::function<std::optional<QString>()> locateColi;
    std::function<std::optional<LaunchCommand>()> makeColiArguments;
    // Where the program is looked for, to tell the user when it is found nowhere.
    std::function<QStringList()> searchedPlaces;
    ProcessLauncher* launcher = nullptr;
};

struct SettingsEnvironment {
    SettingsEnvironment(Runtime& appRuntime, ConfigStore& configStore) : runtime(appRuntime), config(configStore) {}

    Runtime& runtime;
    ConfigStore& config;
    SoundFeedback* sounds = nullptr;
    StopRecordingShortcutManager* stopRecordingShortcut = nullptr;
    const KeyCodeReader* keyCodes = nullptr;
    // Hands an address (a web page, a folder as a file address) to the desktop; false when no
    // program took it.
    std::function<bool(const QUrl&)> openUrl;
    HookInstaller* hooks = nullptr;
    SpeechProgram speechProgram;
    // The screens, for the display picker.
    const ScreenList* screens = nullptr;
};

}  // namespace vocalynx
