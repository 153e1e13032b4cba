#include "core/ConfigStore.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace vocalynx {

namespace {
QByteArray dataValue(const QVariant& v) {
    if (!v.isValid()) return {};
    return v.toByteArray();
}
}  // namespace

QString trimmedPhrase(const QString& text) { return text.trimmed(); }

ConfigStore::ConfigStore(Runtime& runtime, const QString& suiteName)
    : runtime_(runtime), defaults_(PreferencesDomain::fileFor(runtime.paths.config, suiteName), runtime.log) {}

Action ConfigStore::action(GestureType gesture) const {
    std::lock_guard lock(lock_);
    const QByteArray data = dataValue(defaults_.value(mappingKey));
    if (data.isEmpty()) return Action::defaultFor(gesture);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return Action::defaultFor(gesture);
    const QJsonObject mappings = doc.object();
    // Any value that fails to decode makes every gesture fall back to its default.
    std::optional<Action> found;
    for (auto it = mappings.begin(); it != mappings.end(); ++it) {
        const auto decoded = Action::fromJson(it.value());
        if (!decoded) return Action::defaultFor(gesture);
        if (it.key() == gestureTypeName(gesture)) found = decoded.value();
    }
    return found ? *found : Action::defaultFor(gesture);
}

InjectionMode ConfigStore::injectionMode() const {
    std::lock_guard lock(lock_);
    return defaults_.value(injectionModeKey).toString() == QLatin1String("clipboard") ? InjectionMode::clipboard
                                                                                       : InjectionMode::keyboard;
}

KeyboardShortcut ConfigStore::stopRecordingShortcut() {
    std::lock_guard lock(lock_);
    const QByteArray data = dataValue(defaults_.value(stopRecordingShortcutKey));
    if (data.isEmpty()) return KeyboardShortcut::defaultShortcut();
    const auto decoded = KeyboardShortcut::fromJsonData(data);
    if (decoded && decoded.value().isSafe()) return decoded.value();
    // A shortcut without Ctrl, Alt or Super would take its key from every application, and one
    // with an unknown key would leave no shortcut at all: the default takes its place for good.
    const KeyboardShortcut fallback = KeyboardShortcut::defaultShortcut();
    runtime_.log.line(QStringLiteral("[Vocalynx] Stored stop shortcut ") +
                      (decoded ? QStringLiteral("keyCode=") + QString::number(decoded.value().keyCode) +
                                     QStringLiteral(" modifiers=") + QString::number(decoded.value().modifiers) +
                                     QStringLiteral(" is not usable")
                               : QStringLiteral("cannot be read")) +
                      QStringLiteral(", replaced by the default"));
    defaults_.setValue(stopRecordingShortcutKey, fallback.toJsonData());
    return fallback;
}

void ConfigStore::setStopRecordingShortcut(const KeyboardShortcut& shortcut) {
    std::lock_guard lock(lock_);
    const QByteArray data = shortcut.toJsonData();
    if (data.isEmpty()) return;
    defaults_.setValue(stopRecordingShortcutKey, data);
    runtime_.notifications.post(notifications::stopRecordingShortcutDidChange, shortcut);
}

QString ConfigStore::stopRecordingVoicePhrase() const {
    std::lock_guard lock(lock_);
    const QVariant v = defaults_.value(stopRecordingVoicePhraseKey);
    const QString trimmed = v.isValid() ? trimmedPhrase(v.toString()) : QString();
    return trimmed.isEmpty() ? kDefaultVoicePhrase : trimmed;
}

void ConfigStore::setStopRecordingVoicePhrase(const QString& phrase) {
    std::lock_guard lock(lock_);
    const QString trimmed = trimmedPhrase(phrase);
    defaults_.setValue(stopRecordingVoicePhraseKey, trimmed.isEmpty() ? kDefaultVoicePhrase : trimmed);
}

PreferredDisplay ConfigStore::preferredDisplay() const {
    std::lock_guard lock(lock_);
    const QVariant v = defaults_.value(preferredDisplayKey);
    return PreferredDisplay::fromStoredValue(v.isValid() ? v.toString() : QString());
}

void ConfigStore::setPreferredDisplay(const PreferredDisplay& display) {
    std::lock_guard lock(lock_);
    defaults_.setValue(preferredDisplayKey, display.storedValue());
    runtime_.notifications.post(notifications::preferredDisplayDidChange, display);
}

bool ConfigStore::isSoundEnabled(SoundType type) const {
    std::lock_guard lock(lock_);
    const QVariant v = defaults_.value(soundKey(type));
    return v.isValid() ? v.toBool() : true;
}

void ConfigStore::setSoundEnabled(SoundType type, bool enabled) {
    std::lock_guard lock(lock_);
    defaults_.setValue(soundKey(type), enabled);
}

}  // namespace vocalynx
