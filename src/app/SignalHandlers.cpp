#include "app/SignalHandlers.h"

#include <signal.h>

#include <atomic>

#include "engine/ColiPid.h"

namespace vocalynx {

namespace {
std::atomic<bool> installed{false};

extern "C" void handleFatalSignal(int signal) {
    // Signal context: only async-signal-safe calls.
    const int pid = persistentColiPid.load(std::memory_order_relaxed);
    if (pid > 0) ::kill(pid, SIGTERM);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}
}  // namespace

bool installFatalSignalHandlers() {
    if (installed.exchange(true)) return false;
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGABRT, SIGSEGV, SIGILL, SIGBUS}) ::signal(s, handleFatalSignal);
    return true;
}

bool fatalSignalHandlersInstalled() { return installed.load(); }

}  // namespace vocalynx
