#include "core/Types.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <cmath>
#include <limits>

namespace vocalynx {

QString gestureTypeName(GestureType type) {
    switch (type) {
        case GestureType::single: return QStringLiteral("single");
        case GestureType::double_: return QStringLiteral("double");
        case GestureType::triple: return QStringLiteral("triple");
    }
    return {};
}

std::optional<GestureType> gestureTypeFromName(const QString& name) {
    return caseNamed(kAllGestureTypes, name, gestureTypeName);
}

QString soundTypeName(SoundType type) {
    switch (type) {
        case SoundType::startRecording: return QStringLiteral("startRecording");
        case SoundType::stopRecording: return QStringLiteral("stopRecording");
        case SoundType::confirm: return QStringLiteral("confirm");
        case SoundType::cancel: return QStringLiteral("cancel");
        case SoundType::agentStart: return QStringLiteral("agentStart");
        case SoundType::agentComplete: return QStringLiteral("agentComplete");
        case SoundType::agentPermission: return QStringLiteral("agentPermission");
    }
    return {};
}

std::optional<SoundType> soundTypeFromName(const QString& name) {
    return caseNamed(kAllSoundTypes, name, soundTypeName);
}

QString recordingStateName(RecordingState state) {
    switch (state) {
        case RecordingState::idle: return QStringLiteral("idle");
        case RecordingState::recording: return QStringLiteral("recording");
        case RecordingState::transcribing: return QStringLiteral("transcribing");
        case RecordingState::collapsing: return QStringLiteral("collapsing");
    }
    return {};
}

QString injectionModeName(InjectionMode mode) {
    return mode == InjectionMode::clipboard ? QStringLiteral("clipboard") : QStringLiteral("keyboard");
}

// ---- PreferredDisplay ----

QString PreferredDisplay::storedValue() const {
    switch (kind) {
        case Kind::automatic: return QStringLiteral("auto");
        case Kind::builtin: return QStringLiteral("builtin");
        case Kind::external: return QStringLiteral("external");
        case Kind::screen: return screenID;
    }
    return QStringLiteral("auto");
}

PreferredDisplay PreferredDisplay::fromStoredValue(const QString& value) {
    if (value == QLatin1String("builtin")) return builtin();
    if (value == QLatin1String("external")) return external();
    if (!value.isEmpty() && value != QLatin1String("auto") && value.startsWith(QLatin1String("screen:")))
        return screen(value);
    return automatic();
}

QString PreferredDisplay::caseName() const {
    switch (kind) {
        case Kind::automatic: return QStringLiteral("auto");
        case Kind::builtin: return QStringLiteral("builtin");
        case Kind::external: return QStringLiteral("external");
        case Kind::screen: return QStringLiteral("screen");
    }
    return {};
}

QJsonObject PreferredDisplay::encoded() const {
    QJsonObject inner;
    if (kind == Kind::screen) inner.insert(QStringLiteral("_0"), screenID);
    QJsonObject outer;
    outer.insert(caseName(), inner);
    return outer;
}

Result<PreferredDisplay> PreferredDisplay::decode(const QJsonObject& object) {
    if (object.size() != 1) return Result<PreferredDisplay>::fail(QStringLiteral("Invalid number of keys found, expected one."));
    const QString key = object.begin().key();
    const QJsonValue inner = object.begin().value();
    if (!inner.isObject()) return Result<PreferredDisplay>::fail(QStringLiteral("Expected a keyed container for ") + key);
    if (key == QLatin1String("auto")) return Result<PreferredDisplay>::ok(automatic());
    if (key == QLatin1String("builtin")) return Result<PreferredDisplay>::ok(builtin());
    if (key == QLatin1String("external")) return Result<PreferredDisplay>::ok(external());
    if (key == QLatin1String("screen")) {
        const QJsonValue id = inner.toObject().value(QStringLiteral("_0"));
        if (!id.isString()) return Result<PreferredDisplay>::fail(QStringLiteral("No string value for key _0"));
        return Result<PreferredDisplay>::ok(screen(id.toString()));
    }
    return Result<PreferredDisplay>::fail(QStringLiteral("Unknown case ") + key);
}

// ---- Action ----

bool Action::operator==(const Action& o) const {
    if (kind != o.kind) return false;
    switch (kind) {
        case Kind::simulateHotkey: return keyCode == o.keyCode && modifiers == o.modifiers;
        case Kind::sendText: return text == o.text;
        default: return true;
    }
}

QString actionKindName(Action::Kind kind) {
    switch (kind) {
        case Action::Kind::simulateHotkey: return QStringLiteral("simulateHotkey");
        case Action::Kind::sendText: return QStringLiteral("sendText");
        case Action::Kind::toggleRecording: return QStringLiteral("toggleRecording");
        case Action::Kind::simulateEnter: return QStringLiteral("simulateEnter");
        case Action::Kind::simulateEsc: return QStringLiteral("simulateEsc");
        case Action::Kind::none: return QStringLiteral("none");
    }
    return {};
}

QJsonObject Action::toJson() const {
    QJsonObject o;
    o.insert(QStringLiteral("type"), actionKindName(kind));
    if (kind == Kind::simulateHotkey) {
        o.insert(QStringLiteral("keyCode"), static_cast<qint64>(keyCode));
        o.insert(QStringLiteral("modifiers"), static_cast<qint64>(modifiers));
    } else if (kind == Kind::sendText) {
        o.insert(QStringLiteral("text"), text);
    }
    return o;
}

namespace {
// An unsigned integer that fits max; fractions, negatives and non-numbers are errors.
std::optional<uint64_t> unsignedValue(const QJsonValue& v, uint64_t max) {
    if (!v.isDouble()) return std::nullopt;
    const QVariant variant = v.toVariant();
    if (variant.typeId() == QMetaType::LongLong || variant.typeId() == QMetaType::Int ||
        variant.typeId() == QMetaType::ULongLong) {
        const qint64 i = v.toInteger();
        if (i < 0 || static_cast<uint64_t>(i) > max) return std::nullopt;
        return static_cast<uint64_t>(i);
    }
    const double d = v.toDouble();
    if (!std::isfinite(d) || d < 0 || std::floor(d) != d) return std::nullopt;
    if (d >= 18446744073709551616.0 || d > static_cast<double>(max)) return std::nullopt;
    return static_cast<uint64_t>(d);
}
}  // namespace

Result<Action> Action::fromJson(const QJsonValue& value) {
    using R = Result<Action>;
    if (!value.isObject()) return R::fail(QStringLiteral("Expected an object"));
    const QJsonObject o = value.toObject();
    const QJsonValue type = o.value(QStringLiteral("type"));
    if (type.isUndefined()) return R::fail(QStringLiteral("No value associated with key \"type\""));
    if (!type.isString()) return R::fail(QStringLiteral("Expected a string for \"type\""));
    const QString t = type.toString();
    if (t == QLatin1String("toggleRecording")) return R::ok(toggleRecording());
    if (t == QLatin1String("simulateEnter")) return R::ok(simulateEnter());
    if (t == QLatin1String("simulateEsc")) return R::ok(simulateEsc());
    if (t == QLatin1String("simulateHotkey")) {
        const auto key = unsignedValue(o.value(QStringLiteral("keyCode")), std::numeric_limits<uint16_t>::max());
        if (!key) return R::fail(QStringLiteral("Invalid or missing \"keyCode\""));
        const auto mods = unsignedValue(o.value(QStringLiteral("modifiers")), std::numeric_limits<uint64_t>::max());
        if (!mods) return R::fail(QStringLiteral("Invalid or missing \"modifiers\""));
        return R::ok(simulateHotkey(static_cast<uint16_t>(*key), *mods));
    }
    if (t == QLatin1String("sendText")) {
        const QJsonValue text = o.value(QStringLiteral("text"));
        if (!text.isString()) return R::fail(QStringLiteral("Invalid or missing \"text\""));
        return R::ok(sendText(text.toString()));
    }
    return R::ok(none());
}

Action Action::defaultFor(GestureType gesture) {
    switch (gesture) {
        case GestureType::single: return toggleRecording();
        case GestureType::double_: return simulateEnter();
        case GestureType::triple: return simulateEsc();
    }
    return none();
}

// ---- KeyboardShortcut ----

QStringList KeyboardShortcut::displayString() const {
    QStringList parts;
    // The command bit is the Super key (the X server's Mod4), the option bit Alt (Mod1): the names
    // printed on the keys of a PC keyboard.
    if (modifiers & kCommand) parts << QStringLiteral("Super");
    if (modifiers & kOption) parts << QStringLiteral("Alt");
    if (modifiers & kControl) parts << QStringLiteral("Ctrl");
    if (modifiers & kShift) parts << QStringLiteral("Shift");
    parts << keyName(keyCode);
    return parts;
}

bool KeyboardShortcut::isFunctionKey(uint32_t code) {
    switch (code) {
        case 96: case 97: case 98: case 99: case 100: case 101:  // F5 F6 F7 F3 F8 F9
        case 103: case 109: case 111:                            // F11 F10 F12
        case 118: case 120: case 122:                            // F4 F2 F1
            return true;
        default:
            return false;
    }
}

bool KeyboardShortcut::isSafe() const {
    if (!isNamedKey(keyCode)) return false;
    if (modifiers & ~(kCommand | kShift | kOption | kControl)) return false;
    return (modifiers & (kCommand | kOption | kControl)) != 0 || isFunctionKey(keyCode);
}

QByteArray KeyboardShortcut::toJsonData() const {
    QJsonObject o;
    o.insert(QStringLiteral("keyCode"), static_cast<qint64>(keyCode));
    o.insert(QStringLiteral("modifiers"), static_cast<qint64>(modifiers));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

Result<KeyboardShortcut> KeyboardShortcut::fromJsonData(const QByteArray& data) {
    using R = Result<KeyboardShortcut>;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return R::fail(QStringLiteral("The data is not a JSON object"));
    const QJsonObject o = doc.object();
    const auto key = unsignedValue(o.value(QStringLiteral("keyCode")), std::numeric_limits<uint32_t>::max());
    const auto mods = unsignedValue(o.value(QStringLiteral("modifiers")), std::numeric_limits<uint32_t>::max());
    if (!key || !mods) return R::fail(QStringLiteral("Invalid or missing \"keyCode\" or \"modifiers\""));
    return R::ok(KeyboardShortcut{static_cast<uint32_t>(*key), static_cast<uint32_t>(*mods)});
}

namespace {
const char* const kKeyNames[127] = {
    "A", "S", "D", "F", "H", "G", "Z", "X", "C", "V",                               // 0-9
    nullptr,                                                                        // 10
    "B", "Q", "W", "E", "R", "Y", "T",                                              // 11-17
    "1", "2", "3", "4", "6", "5", "=", "9", "7", "-", "8", "0",                     // 18-29
    "]", "O", "U", "[", "I", "P",                                                   // 30-35
    "↩",                                                                            // 36
    "L", "J", "'", "K", ";", "\\", ",", "/", "N", "M", ".",                         // 37-47
    "⇥", "Space", "`", "⌫", nullptr, "⎋",                                           // 48-53
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // 54-63
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // 64-73
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // 74-83
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // 84-93
    nullptr, nullptr,                                                               // 94-95
    "F5", "F6", "F7", "F3", "F8", "F9",                                             // 96-101
    nullptr, "F11", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,           // 102-109 (109 below)
    nullptr, "F12", nullptr, nullptr, nullptr,                                      // 110-114
    "↖", "⇞", "⌦", "F4", "↘", "F2", "⇟", "F1",                                      // 115-122
    "←", "→", "↓", "↑",                                                             // 123-126
};
}  // namespace

QString keyName(uint32_t code) {
    if (code == 109) return QStringLiteral("F10");
    if (code < 127 && kKeyNames[code]) return QString::fromUtf8(kKeyNames[code]);
    return QStringLiteral("Key") + QString::number(code);
}

bool isNamedKey(uint32_t code) { return code == 109 || (code < 127 && kKeyNames[code]); }

}  // namespace vocalynx
