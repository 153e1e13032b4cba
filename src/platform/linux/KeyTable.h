#pragma once
#include <cstdint>
#include <optional>

namespace vocalynx {

// The one translation between the platform key codes and modifier masks kept in stored shortcuts
// and actions (0 = A, 41 = semicolon, 36 = Return, ...) and X keysyms / X modifier masks, in both
// directions (the shortcut recorder reads X key events back into platform codes).
// Command = Super (Mod4), option = Alt (Mod1), control = Control, shift = Shift.
class KeyTable {
public:
    // The X keysym of a platform key code (the unshifted symbol: XK_a for 0); nothing when the
    // code names no key.
    static std::optional<unsigned long> keysymForKeyCode(uint32_t keyCode);
    // The platform key code of an X keysym; letters in either case give the same code.
    static std::optional<uint32_t> keyCodeForKeysym(unsigned long keysym);

    // Carbon mask (command 0x100, shift 0x200, option 0x800, control 0x1000) -> X modifier mask.
    static unsigned int xModifiersForCarbon(uint32_t carbonModifiers);
    // The platform's key-event flags (command 0x100000, option 0x80000, control 0x40000,
    // shift 0x20000) -> X modifier mask.
    static unsigned int xModifiersForEventFlags(uint64_t flags);
    // X modifier state -> Carbon mask; Lock, NumLock and the other modifiers are dropped.
    static uint32_t carbonModifiersForX(unsigned int xState);
    // X modifier state -> the platform's key-event flags; Lock gives the caps-lock flag 0x10000,
    // NumLock and the other modifiers are dropped.
    static uint64_t eventFlagsForX(unsigned int xState);
};

}  // namespace vocalynx
