#pragma once
#include <QObject>
#include <QPoint>

#include "platform/Screens.h"
#include "platform/linux/QtScreens.h"

typedef struct _XDisplay Display;

class QSocketNotifier;

namespace vocalynx {

// The pointer position for the hover poll, kept cheap while nothing moves.
//
// Asking the X server where the pointer is costs a round trip, and the poll asks twenty times a
// second. On a connection of its own this class listens for the pointer's raw motion, which the
// server reports to the root window whatever window the pointer is over, and asks the server again
// only after motion was reported. A warp (another program placing the pointer) is not motion, so
// every twentieth read asks anyway. While the pointer moves, the first motion report switches the
// listening off until the next read, so a fast mouse costs at most one extra wake-up per read.
//
// Without an X display, or without the input extension's raw events, every read asks: the server
// when there is one, else QCursor.
class X11PointerLocation final : public QObject, public PointerLocation {
public:
    // displayName: null for $DISPLAY.
    explicit X11PointerLocation(const char* displayName = nullptr);
    ~X11PointerLocation() override;

    QPointF location() const override;

    // Whether motion reports are heard, so that reads in between need no round trip.
    bool tracksMotion() const { return tracksMotion_; }
    // How many reads went to the X server so far.
    long serverQueries() const { return serverQueries_; }
    // Whether motion was reported since the server was last asked.
    bool motionSinceLastQuery() const { return stale_; }
    // How many times a motion report woke the event loop.
    long motionWakeups() const { return motionWakeups_; }

    // Every this many reads the server is asked even without a motion report.
    static constexpr int kReadsBetweenQueries = 20;

    // A position in the X server's pixels as Qt places it (what QCursor::pos() gives): a screen
    // keeps its top-left corner in both pixel spaces and scales its extent by its pixel ratio.
    static QPoint logicalFromNative(QPoint native);

private:
    void motionReported();
    // Reads and discards every event waiting on the connection; true when there was one.
    bool drainEvents() const;
    QPoint query() const;

    Display* display_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    bool tracksMotion_ = false;
    QtPointerLocation fallback_;
    mutable bool stale_ = true;
    mutable int readsSinceQuery_ = 0;
    mutable long serverQueries_ = 0;
    long motionWakeups_ = 0;
    mutable QPoint last_;
};

}  // namespace vocalynx
