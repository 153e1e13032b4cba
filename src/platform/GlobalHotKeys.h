#pragma once
#include <cstdint>
#include <functional>
#include <optional>

namespace vocalynx {

// Identifies one registered hot key: a four-character signature (first character in the most
// significant byte) and a number.
struct HotKeyID {
    uint32_t signature = 0;
    uint32_t id = 0;
    bool operator==(const HotKeyID&) const = default;

    static constexpr uint32_t fourCharCode(const char (&code)[5]) {
        return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
               (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
    }
};

// System-wide hot keys: a key press anywhere in the session reaches the handler on the main thread.
class GlobalHotKeys {
public:
    using Ref = int;
    using Handler = std::function<void(const HotKeyID&)>;
    virtual ~GlobalHotKeys() = default;
    // Installs the one handler for every hot-key press; false when it cannot be installed.
    virtual bool installHandler(Handler handler) = 0;
    // Registers the platform key code with the Carbon modifier mask (command 0x100, shift 0x200,
    // option 0x800, control 0x1000). A key that the system refuses (already taken by another
    // client) still yields a reference, which never fires and for which isHeld is false. Nothing
    // when the key code has no key at all.
    virtual std::optional<Ref> registerHotKey(uint32_t keyCode, uint32_t modifiers, HotKeyID id) = 0;
    virtual void unregisterHotKey(Ref ref) = 0;
    // Whether the system gave us the registered key, so that its presses reach the handler (a
    // system that cannot tell says yes).
    virtual bool isHeld(Ref) const { return true; }
};

}  // namespace vocalynx
