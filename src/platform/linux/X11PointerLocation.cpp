#include "platform/linux/X11PointerLocation.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <cmath>

// X headers last: their macros (None, Bool...) clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace vocalynx {

X11PointerLocation::X11PointerLocation(const char* displayName) {
    display_ = XOpenDisplay(displayName);
    if (!display_) return;
    int opcode = 0, event = 0, error = 0;
    // 2.1 and later deliver raw events to the root window even while another client holds a grab.
    int major = 2, minor = 2;
    if (!QCoreApplication::instance() || !XQueryExtension(display_, "XInputExtension", &opcode, &event, &error) ||
        XIQueryVersion(display_, &major, &minor) != Success)
        return;
    unsigned char bits[XIMaskLen(XI_RawMotion)] = {};
    XISetMask(bits, XI_RawMotion);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    if (XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1) != Success) return;
    XFlush(display_);
    tracksMotion_ = true;
    notifier_ = new QSocketNotifier(ConnectionNumber(display_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { motionReported(); });
}

X11PointerLocation::~X11PointerLocation() {
    if (notifier_) notifier_->setEnabled(false);
    if (display_) XCloseDisplay(display_);
}

void X11PointerLocation::motionReported() {
    // Only whether something moved matters until the next read; listening again then.
    ++motionWakeups_;
    drainEvents();
    stale_ = true;
    notifier_->setEnabled(false);
}

bool X11PointerLocation::drainEvents() const {
    bool any = false;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        any = true;
    }
    return any;
}

QPoint X11PointerLocation::query() const {
    ++serverQueries_;
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned int mask = 0;
    if (!XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &rootX, &rootY, &winX, &winY, &mask))
        return last_;  // the pointer is on another X screen; keep what we had
    return logicalFromNative(QPoint(rootX, rootY));
}

QPointF X11PointerLocation::location() const {
    if (!display_) return fallback_.location();
    if (!tracksMotion_) {
        last_ = query();
    } else if (stale_ || ++readsSinceQuery_ >= kReadsBetweenQueries) {
        // Motion reported before this point is covered by the answer; so is whatever Xlib reads
        // off the socket with it, though later motion may be among that, so such a read marks the
        // answer stale and the next read asks again.
        drainEvents();
        last_ = query();
        stale_ = drainEvents();
        readsSinceQuery_ = 0;
        notifier_->setEnabled(true);
    }
    return QtPointerLocation::fromLogical(last_);
}

QPoint X11PointerLocation::logicalFromNative(QPoint native) {
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        const double ratio = screen->devicePixelRatio();
        const QRect nativeRect(g.topLeft(), QSize(static_cast<int>(std::lround(g.width() * ratio)),
                                                  static_cast<int>(std::lround(g.height() * ratio))));
        if (!nativeRect.contains(native)) continue;
        const QPoint offset = native - g.topLeft();
        return g.topLeft() + QPoint(static_cast<int>(std::floor(offset.x() / ratio)),
                                    static_cast<int>(std::floor(offset.y() / ratio)));
    }
    return native;
}

}  // namespace vocalynx
