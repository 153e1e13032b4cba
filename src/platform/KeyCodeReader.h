#pragma once
#include <cstdint>
#include <optional>

namespace vocalynx {

// Reads a key press delivered to this application's windows back into the platform key code and
// the platform's key-event modifier flags, the forms that stored shortcuts use.
class KeyCodeReader {
public:
    // What the window system reports for one key press.
    struct NativeKeyPress {
        uint32_t scanCode = 0;   // the hardware key (0 when unknown)
        uint32_t keysym = 0;     // the symbol the key produced with the modifiers held
        uint32_t modifiers = 0;  // the window system's modifier state at the press
    };

    virtual ~KeyCodeReader() = default;
    // The platform key code of the key, or nothing when it has none (a modifier key on its own,
    // a key outside the key table).
    virtual std::optional<uint32_t> keyCode(const NativeKeyPress& press) const = 0;
    // The platform's key-event modifier flags (command 0x100000, option 0x80000, control 0x40000,
    // shift 0x20000, caps lock 0x10000).
    virtual uint64_t modifierFlags(const NativeKeyPress& press) const = 0;
};

}  // namespace vocalynx
