#pragma once
#include <map>

#include "platform/GlobalHotKeys.h"
#include "platform/linux/X11Session.h"

namespace vocalynx {

// Global hot keys as passive grabs (XGrabKey) on the root window of our own X connection. Each
// key is grabbed four times, so that it also fires with Caps Lock and/or Num Lock on. A key that
// the server refuses (another client holds it) is survived: none of its grabs is kept, it never
// fires and isHeld reports it. Presses are read on the main thread and handed to the handler.
class X11GlobalHotKeys final : public GlobalHotKeys {
public:
    explicit X11GlobalHotKeys(X11Session& session);
    ~X11GlobalHotKeys() override;

    bool installHandler(Handler handler) override;
    std::optional<Ref> registerHotKey(uint32_t keyCode, uint32_t modifiers, HotKeyID id) override;
    void unregisterHotKey(Ref ref) override;
    // Whether the server accepted every grab of the hot key (false for a refused key).
    bool isHeld(Ref ref) const override;

private:
    struct Grab {
        int keycode = 0;
        unsigned int modifiers = 0;
        HotKeyID id;
        bool accepted = false;
    };
    void handleEvent(XEvent& event);
    void ungrab(const Grab& grab);
    unsigned int numLockMask();

    X11Session& session_;
    Handler handler_;
    std::map<Ref, Grab> grabs_;
    Ref nextRef_ = 1;
};

}  // namespace vocalynx
