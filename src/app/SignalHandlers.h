#pragma once

namespace vocalynx {

// Installs the fatal-signal handlers once per process: each sends SIGTERM to the persistent
// speech process (when one is recorded), restores the default disposition and raises the signal
// again, so the process still ends the way the signal says. Returns false when already installed.
bool installFatalSignalHandlers();

bool fatalSignalHandlersInstalled();

}  // namespace vocalynx
