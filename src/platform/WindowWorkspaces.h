#pragma once
#include <QtGlobal>

namespace vocalynx {

// Desktop-session properties of a top-level window that the toolkit does not offer.
class WindowWorkspaces {
public:
    virtual ~WindowWorkspaces() = default;
    // Keeps the window on every workspace (virtual desktop). The window must exist natively;
    // the call is repeated after the window is shown so that the window manager sees it either way.
    virtual void showOnAllWorkspaces(quintptr nativeWindow) = 0;
    // Whether a compositing manager runs now, so that a translucent window shows what lies below
    // it. Asked again from time to time: one may start or stop while the program runs. Without a
    // way to tell, one is taken to run.
    virtual bool hasCompositor() { return true; }
};

}  // namespace vocalynx
