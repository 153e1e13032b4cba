#pragma once
#include "platform/WindowWorkspaces.h"

namespace vocalynx {

class X11Session;

// Sticky windows through the window manager hints: _NET_WM_DESKTOP set to "all desktops" and
// the _NET_WM_STATE_STICKY state requested from the window manager. Without an X display it does
// nothing. A compositing manager is the owner of the _NET_WM_CM_S<screen> selection.
class X11WindowWorkspaces final : public WindowWorkspaces {
public:
    explicit X11WindowWorkspaces(X11Session& session) : session_(session) {}
    void showOnAllWorkspaces(quintptr nativeWindow) override;
    bool hasCompositor() override;

private:
    X11Session& session_;
    unsigned long compositorSelection_ = 0;  // the selection's atom, once interned
};

}  // namespace vocalynx
