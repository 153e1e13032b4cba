#pragma once
#include <cstdint>

namespace vocalynx::keymods {

// The modifier bits kept in stored shortcuts and handed to the hot-key port (the Carbon mask).
inline constexpr uint32_t kCommand = 0x100;
inline constexpr uint32_t kShift = 0x200;
inline constexpr uint32_t kOption = 0x800;
inline constexpr uint32_t kControl = 0x1000;

// The platform's key-event modifier flags, as carried by actions and by posted key events.
inline constexpr uint64_t kFlagCapsLock = 0x10000;
inline constexpr uint64_t kFlagShift = 0x20000;
inline constexpr uint64_t kFlagControl = 0x40000;
inline constexpr uint64_t kFlagOption = 0x80000;
inline constexpr uint64_t kFlagCommand = 0x100000;

// Key-event flags -> Carbon mask; caps lock and every other flag are dropped.
constexpr uint32_t carbonModifiers(uint64_t flags) {
    uint32_t mask = 0;
    if (flags & kFlagCommand) mask |= kCommand;
    if (flags & kFlagOption) mask |= kOption;
    if (flags & kFlagControl) mask |= kControl;
    if (flags & kFlagShift) mask |= kShift;
    return mask;
}

}  // namespace vocalynx::keymods
