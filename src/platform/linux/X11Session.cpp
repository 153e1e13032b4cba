#include "platform/linux/X11Session.h"


#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>

// X headers last: their macros (None, KeyPress, Bool...) clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace vocalynx {

namespace {

// Xlib has one error handler per process; the trap is installed only for the length of one
// synchronous round of requests on the main thread, and the earlier handler is put back after.
thread_local int* trappedError = nullptr;

int recordError(Display*, XErrorEvent* event) {
    if (trappedError && *trappedError == 0) *trappedError = event->error_code;
    return 0;
}

}  // namespace

X11Session::X11Session(const char* displayName) {
    display_ = XOpenDisplay(displayName);
    if (!display_) return;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    hasXTest_ = XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor) == True;
    if (QCoreApplication::instance()) {
        notifier_ = new QSocketNotifier(ConnectionNumber(display_), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { dispatchPending(); });
        // Xlib may already have read events off the socket while waiting for a reply; pick those up
        // before the event loop sleeps.
        if (auto* dispatcher = QAbstractEventDispatcher::instance())
            connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
                if (display_ && XEventsQueued(display_, QueuedAlready) > 0) dispatchPending();
            });
    }
}

X11Session::~X11Session() {
    if (notifier_) notifier_->setEnabled(false);
    if (display_) XCloseDisplay(display_);
}

void X11Session::dispatchPending() {
    if (!display_) return;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (listener_) listener_(event);
    }
}

int X11Session::trapErrors(const std::function<void()>& requests) {
    if (!display_) return 0;
    XSync(display_, False);
    int error = 0;
    int* outer = trappedError;
    trappedError = &error;
    XErrorHandler previous = XSetErrorHandler(recordError);
    requests();
    XSync(display_, False);
    XSetErrorHandler(previous);
    trappedError = outer;
    return error;
}

}  // namespace vocalynx
