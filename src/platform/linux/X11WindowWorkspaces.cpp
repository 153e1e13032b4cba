#include "platform/linux/X11WindowWorkspaces.h"

#include "platform/linux/X11Session.h"

#include <QByteArray>

// X headers last: their macros clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace vocalynx {

void X11WindowWorkspaces::showOnAllWorkspaces(quintptr nativeWindow) {
    Display* display = session_.display();
    if (!display || nativeWindow == 0) return;
    const auto window = static_cast<Window>(nativeWindow);
    // A window that has gone away answers BadWindow; the trap keeps that from ending the process.
    session_.trapErrors([&] {
        const Atom desktop = XInternAtom(display, "_NET_WM_DESKTOP", False);
        const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
        const Atom sticky = XInternAtom(display, "_NET_WM_STATE_STICKY", False);
        const unsigned long allDesktops = 0xFFFFFFFFul;
        XChangeProperty(display, window, desktop, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&allDesktops), 1);
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = state;
        event.xclient.format = 32;
        event.xclient.data.l[0] = 1;  // add
        event.xclient.data.l[1] = static_cast<long>(sticky);
        event.xclient.data.l[2] = 0;
        event.xclient.data.l[3] = 1;  // from an application
        XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
    });
}

bool X11WindowWorkspaces::hasCompositor() {
    Display* display = session_.display();
    if (!display) return true;
    if (compositorSelection_ == 0) {
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
        compositorSelection_ = XInternAtom(display, name.constData(), False);
    }
    return XGetSelectionOwner(display, compositorSelection_) != None;
}

}  // namespace vocalynx
