#include "platform/linux/X11GlobalHotKeys.h"


#include "platform/linux/KeyTable.h"

// X headers last: their macros (None, KeyPress, Bool...) clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace vocalynx {

X11GlobalHotKeys::X11GlobalHotKeys(X11Session& session) : session_(session) {}

X11GlobalHotKeys::~X11GlobalHotKeys() {
    for (const auto& [ref, grab] : grabs_) ungrab(grab);
    if (session_.display()) XFlush(session_.display());
}

bool X11GlobalHotKeys::installHandler(Handler handler) {
    if (!session_.display()) return false;
    handler_ = std::move(handler);
    session_.setEventListener([this](XEvent& event) { handleEvent(event); });
    return true;
}

unsigned int X11GlobalHotKeys::numLockMask() {
    Display* d = session_.display();
    const KeyCode numLock = XKeysymToKeycode(d, XK_Num_Lock);
    unsigned int mask = 0;
    if (XModifierKeymap* map = XGetModifierMapping(d)) {
        for (int mod = 0; mod < 8; ++mod)
            for (int k = 0; k < map->max_keypermod; ++k)
                if (numLock && map->modifiermap[mod * map->max_keypermod + k] == numLock) mask = 1u << mod;
        XFreeModifiermap(map);
    }
    return mask ? mask : Mod2Mask;
}

std::optional<GlobalHotKeys::Ref> X11GlobalHotKeys::registerHotKey(uint32_t keyCode, uint32_t modifiers, HotKeyID id) {
    Display* d = session_.display();
    if (!d) return std::nullopt;
    const auto keysym = KeyTable::keysymForKeyCode(keyCode);
    if (!keysym) return std::nullopt;
    const int keycode = XKeysymToKeycode(d, *keysym);
    if (keycode == 0) return std::nullopt;
    Grab grab{keycode, KeyTable::xModifiersForCarbon(modifiers), id, false};
    const unsigned int numLock = numLockMask();
    const Window root = DefaultRootWindow(d);
    const int error = session_.trapErrors([&] {
        for (unsigned int extra : {0u, static_cast<unsigned int>(LockMask), numLock, LockMask | numLock})
            XGrabKey(d, keycode, grab.modifiers | extra, root, False, GrabModeAsync, GrabModeAsync);
    });
    grab.accepted = error == 0;
    // Half a key (some lock states ours, the others another client's) is no use to anyone.
    if (!grab.accepted) ungrab(grab);
    const Ref ref = nextRef_++;
    grabs_[ref] = grab;
    return ref;
}

void X11GlobalHotKeys::ungrab(const Grab& grab) {
    Display* d = session_.display();
    if (!d) return;
    const unsigned int numLock = numLockMask();
    const Window root = DefaultRootWindow(d);
    // Ungrabbing a key that another client holds is refused too; that is not ours to report.
    session_.trapErrors([&] {
        for (unsigned int extra : {0u, static_cast<unsigned int>(LockMask), numLock, LockMask | numLock})
            XUngrabKey(d, grab.keycode, grab.modifiers | extra, root);
    });
}

void X11GlobalHotKeys::unregisterHotKey(Ref ref) {
    const auto it = grabs_.find(ref);
    if (it == grabs_.end()) return;
    ungrab(it->second);
    grabs_.erase(it);
}

bool X11GlobalHotKeys::isHeld(Ref ref) const {
    const auto it = grabs_.find(ref);
    return it != grabs_.end() && it->second.accepted;
}

void X11GlobalHotKeys::handleEvent(XEvent& event) {
    if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        return;
    }
    if (event.type != KeyPress) return;
    const unsigned int relevant = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;
    for (const auto& [ref, grab] : grabs_) {
        if (static_cast<int>(event.xkey.keycode) == grab.keycode && (event.xkey.state & relevant) == grab.modifiers) {
            if (handler_) handler_(grab.id);
            return;
        }
    }
}

}  // namespace vocalynx
