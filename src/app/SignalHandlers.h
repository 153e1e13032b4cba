#pragma once

namespace vocalynx {

// Installs the fatal-signal handlers (SIGTERM, SIGINT, SIGHUP, SIGABRT, SIGSEGV, SIGILL, SIGBUS)
// once per process, after crash reporting has installed its own. Each sends SIGTERM to the
// persistent speech process (when one is recorded), then runs the handler that was there before
// (so the crash reporter still writes its report), then restores the default disposition and
// raises the signal again, so the process still ends the way the signal says. A SIGTERM, SIGINT
// or SIGHUP that the process inherited as ignored stays ignored. Returns false when already
// installed.
bool installFatalSignalHandlers();

bool fatalSignalHandlersInstalled();

// True from the moment a fatal-signal handler starts: the process is on its way out through it.
bool fatalSignalBeingHandled();

}  // namespace vocalynx
