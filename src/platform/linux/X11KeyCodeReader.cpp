#include "platform/linux/X11KeyCodeReader.h"

#include "platform/linux/KeyTable.h"
#include "platform/linux/X11Session.h"

// X headers last: their macros clash with Qt's names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace vocalynx {

std::optional<uint32_t> X11KeyCodeReader::keyCode(const NativeKeyPress& press) const {
    Display* display = session_ ? session_->display() : nullptr;
    if (display && press.scanCode >= 8 && press.scanCode <= 255) {
        const KeySym base = XkbKeycodeToKeysym(display, static_cast<KeyCode>(press.scanCode), 0, 0);
        if (base != NoSymbol) {
            if (auto code = KeyTable::keyCodeForKeysym(base)) return code;
        }
    }
    return KeyTable::keyCodeForKeysym(press.keysym);
}

uint64_t X11KeyCodeReader::modifierFlags(const NativeKeyPress& press) const {
    return KeyTable::eventFlagsForX(press.modifiers);
}

}  // namespace vocalynx
