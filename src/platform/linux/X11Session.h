#pragma once
#include <QByteArray>
#include <QObject>
#include <functional>
#include <memory>

typedef struct _XDisplay Display;
typedef union _XEvent XEvent;

class QSocketNotifier;

namespace vocalynx {

// Our own connection to the X server, shared by key injection and the global hot keys. Events
// that arrive on it are read on the main thread and handed to the listener. Without a display
// (no DISPLAY, or the server refuses us) display() is null and everything built on it falls back.
class X11Session : public QObject {
public:
    // displayName: null for $DISPLAY.
    explicit X11Session(const char* displayName = nullptr);
    ~X11Session() override;

    Display* display() const { return display_; }
    bool hasXTest() const { return hasXTest_; }

    void setEventListener(std::function<void(XEvent&)> listener) { listener_ = std::move(listener); }
    // Reads and dispatches every event waiting on the connection (also those Xlib already queued).
    void dispatchPending();

    // Runs requests with a private X error handler and waits for the server to answer them, so a
    // refused request (BadAccess for a key another client holds) is reported instead of reaching
    // the default handler, which would end the process. Returns the first error code, 0 for none.
    int trapErrors(const std::function<void()>& requests);

private:
    Display* display_ = nullptr;
    bool hasXTest_ = false;
    QSocketNotifier* notifier_ = nullptr;
    std::function<void(XEvent&)> listener_;
};

}  // namespace vocalynx
