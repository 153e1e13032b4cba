#pragma once
#include <QString>
#include <mutex>

#include "core/PreferencesDomain.h"
#include "core/Types.h"
#include "platform/Runtime.h"

namespace vocalynx {

// Every setting the user can change, in the preferences domain named by the suite name.
// One lock per instance guards every access, so any thread may use it. Notifications are posted
// while the lock is held: an observer that reads the store must hop to the main queue first.
class ConfigStore {
public:
    ConfigStore(Runtime& runtime, const QString& suiteName = QStringLiteral("com.vocalynx.app"));

    Action action(GestureType gesture) const;
    InjectionMode injectionMode() const;
    // The stored stop shortcut; a stored value that is unreadable or not safe to hold for the
    // whole desktop (see KeyboardShortcut::isSafe) is replaced by the default, with a log line.
    KeyboardShortcut stopRecordingShortcut();
    void setStopRecordingShortcut(const KeyboardShortcut& shortcut);
    QString stopRecordingVoicePhrase() const;
    void setStopRecordingVoicePhrase(const QString& phrase);
    PreferredDisplay preferredDisplay() const;
    void setPreferredDisplay(const PreferredDisplay& display);
    bool isSoundEnabled(SoundType type) const;
    void setSoundEnabled(SoundType type, bool enabled);

    QString filePath() const { return defaults_.filePath(); }

    static inline const QString kDefaultVoicePhrase = QStringLiteral("就这样喵");
    const QString mappingKey = QStringLiteral("gesture_mappings");
    const QString injectionModeKey = QStringLiteral("injection_mode");
    const QString stopRecordingShortcutKey = QStringLiteral("stop_recording_shortcut");
    const QString stopRecordingVoicePhraseKey = QStringLiteral("stop_recording_voice_phrase");
    const QString overlayAppearanceKey = QStringLiteral("overlay_appearance");  // declared, never used
    const QString preferredDisplayKey = QStringLiteral("preferred_display");
    static QString soundKey(SoundType type) { return QStringLiteral("sound_enabled_") + soundTypeName(type); }

private:
    Runtime& runtime_;
    PreferencesDomain defaults_;
    mutable std::mutex lock_;
};

// Trims white space and line breaks at both ends.
QString trimmedPhrase(const QString& text);

}  // namespace vocalynx
