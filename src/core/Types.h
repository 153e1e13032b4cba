#pragma once
// Small value types shared across the system, with their stored (JSON or string) forms.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
#include <type_traits>
#include <variant>

#include "core/Result.h"
#include "platform/KeyModifiers.h"

namespace vocalynx {

// The case among `all` whose stored name is `name`: the one way back from a name to its case for
// every enumeration that stores a name.
template <typename Cases, typename NameOf>
auto caseNamed(const Cases& all, const QString& name, NameOf nameOf)
    -> std::optional<std::decay_t<decltype(*std::begin(all))>> {
    for (const auto& c : all)
        if (nameOf(c) == name) return c;
    return std::nullopt;
}

// ---- Headset gestures ----
enum class GestureType { single, double_, triple };
inline constexpr std::array<GestureType, 3> kAllGestureTypes{GestureType::single, GestureType::double_,
                                                            GestureType::triple};
QString gestureTypeName(GestureType type);  // "single", "double", "triple"
std::optional<GestureType> gestureTypeFromName(const QString& name);

// ---- Sound cues (the case names also form the settings keys) ----
enum class SoundType { startRecording, stopRecording, confirm, cancel, agentStart, agentComplete, agentPermission };
inline constexpr std::array<SoundType, 7> kAllSoundTypes{
    SoundType::startRecording, SoundType::stopRecording, SoundType::confirm,        SoundType::cancel,
    SoundType::agentStart,     SoundType::agentComplete, SoundType::agentPermission};
QString soundTypeName(SoundType type);
std::optional<SoundType> soundTypeFromName(const QString& name);

// ---- The speech engine's state ----
enum class RecordingState { idle = 0, recording = 1, transcribing = 2, collapsing = 3 };
QString recordingStateName(RecordingState state);

// ---- How text reaches the focused application ----
enum class InjectionMode { keyboard, clipboard };
QString injectionModeName(InjectionMode mode);

// ---- Which screen carries the panel ----
struct PreferredDisplay {
    enum class Kind { automatic, builtin, external, screen };
    Kind kind = Kind::automatic;
    QString screenID;  // only for Kind::screen

    static PreferredDisplay automatic() { return {}; }
    static PreferredDisplay builtin() { return {Kind::builtin, {}}; }
    static PreferredDisplay external() { return {Kind::external, {}}; }
    static PreferredDisplay screen(QString id) { return {Kind::screen, std::move(id)}; }
    bool operator==(const PreferredDisplay&) const = default;

    // The string kept in the settings: "auto", "builtin", "external" or the screen identifier.
    QString storedValue() const;
    static PreferredDisplay fromStoredValue(const QString& value);
    // The keyed coded form: {"auto": {}}, ..., {"screen": {"_0": id}}.
    QJsonObject encoded() const;
    static Result<PreferredDisplay> decode(const QJsonObject& object);
    // Case name as printed in lines ("auto", "builtin", "external", "screen").
    QString caseName() const;
};

// ---- What a gesture or key triggers ----
struct Action {
    enum class Kind { simulateHotkey, sendText, toggleRecording, simulateEnter, simulateEsc, none };
    Kind kind = Kind::none;
    uint16_t keyCode = 0;    // simulateHotkey
    uint64_t modifiers = 0;  // simulateHotkey: the platform's key-event flag bits
    QString text;            // sendText

    static Action simulateHotkey(uint16_t keyCode, uint64_t modifiers) {
        return {Kind::simulateHotkey, keyCode, modifiers, {}};
    }
    static Action sendText(QString text) { return {Kind::sendText, 0, 0, std::move(text)}; }
    static Action toggleRecording() { return {Kind::toggleRecording, 0, 0, {}}; }
    static Action simulateEnter() { return {Kind::simulateEnter, 0, 0, {}}; }
    static Action simulateEsc() { return {Kind::simulateEsc, 0, 0, {}}; }
    static Action none() { return {}; }

    bool operator==(const Action& other) const;

    QJsonObject toJson() const;
    static Result<Action> fromJson(const QJsonValue& value);
    static Action defaultFor(GestureType gesture);
};
QString actionKindName(Action::Kind kind);

// ---- The stop-recording key ----
struct KeyboardShortcut {
    uint32_t keyCode = 41;     // the platform's virtual key code (41 is the semicolon key)
    uint32_t modifiers = 256;  // Carbon mask: command 0x100, shift 0x200, option 0x800, control 0x1000

    static constexpr uint32_t kCommand = keymods::kCommand;
    static constexpr uint32_t kShift = keymods::kShift;
    static constexpr uint32_t kOption = keymods::kOption;
    static constexpr uint32_t kControl = keymods::kControl;

    // The platform's key-event modifier flags.
    static constexpr uint64_t kFlagShift = keymods::kFlagShift;
    static constexpr uint64_t kFlagControl = keymods::kFlagControl;
    static constexpr uint64_t kFlagOption = keymods::kFlagOption;
    static constexpr uint64_t kFlagCommand = keymods::kFlagCommand;

    static KeyboardShortcut defaultShortcut() { return {41, 256}; }
    bool operator==(const KeyboardShortcut&) const = default;

    // "Super", "Alt", "Ctrl", "Shift" for the bits that are set, then the key name.
    QStringList displayString() const;
    // Whether the shortcut may be held for the whole desktop: a key of the key-name table, no
    // modifier bits but the four, and Command, Option or Control with it, unless the key is an F-key.
    // Shift alone is not enough: Shift+1 would take every "!" typed anywhere.
    bool isSafe() const;
    static bool isFunctionKey(uint32_t keyCode);
    static uint32_t carbonModifiers(uint64_t eventFlags) { return keymods::carbonModifiers(eventFlags); }

    QByteArray toJsonData() const;
    static Result<KeyboardShortcut> fromJsonData(const QByteArray& data);
};

// The name shown for a virtual key code ("A", "↩", "F5", ... or "Key" + code).
QString keyName(uint32_t keyCode);
// Whether the key code has a name of its own (not the "Key" + code form).
bool isNamedKey(uint32_t keyCode);

}  // namespace vocalynx
