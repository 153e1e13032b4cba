#pragma once
// Ending in order when a session service the program cannot work without goes away: the X server
// (at logout, or when it crashes) or the session bus. Without this, the toolkit's X layer and Xlib
// end the process with exit() from inside their own calls, and the destructors exit() runs tear
// down shared objects under threads that still use them (the capture thread among them).

#include <QString>
#include <functional>

class QObject;

namespace vocalynx {

// Whatever must happen before the process ends: on the main thread, the application's shutdown
// step (which ends the speech process); null for none.
void setOrderlyShutdown(std::function<void()> shutdown);

// Logs the line, runs the shutdown step (on the main thread; elsewhere only the speech process is
// ended), and ends the process at once with the code, without running exit-time destructors.
// Only the first call acts.
[[noreturn]] void endForLostService(const QString& line, int code);

// Catches the loss of the X server, both where the toolkit reports it and where Xlib does.
void watchDisplayConnection();

// Catches the loss of the session bus connection; the context object owns the watch.
void watchSessionBus(QObject* context);

}  // namespace vocalynx
