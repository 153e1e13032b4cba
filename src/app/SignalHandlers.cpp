#include "app/SignalHandlers.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "engine/ColiPid.h"
#include "platform/linux/XTestKeyInjection.h"

namespace vocalynx {

namespace {
std::atomic<bool> handlingFatalSignal{false};

constexpr int kFatalSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGABRT, SIGSEGV, SIGILL, SIGBUS};
constexpr int kFatalSignalCount = sizeof kFatalSignals / sizeof kFatalSignals[0];

std::atomic<bool> installed{false};
// What each signal did before ours (the crash reporter's handler, a default or an ignore). Written
// before our handler is installed, only read afterwards.
struct sigaction previous[kFatalSignalCount];
bool chained[kFatalSignalCount];  // false: left as it was, ours not installed

// Signals that come from outside rather than from a fault: an ignore inherited for them (nohup,
// a background job) is kept, so that they still do not end the process.
bool isAsynchronous(int signal) { return signal == SIGTERM || signal == SIGINT || signal == SIGHUP; }

const struct sigaction* previousFor(int signal) {
    for (int i = 0; i < kFatalSignalCount; ++i)
        if (kFatalSignals[i] == signal) return chained[i] ? &previous[i] : nullptr;
    return nullptr;
}

// Runs the handler that was there before ours, with the signals it asked to have blocked.
void runPrevious(const struct sigaction& before, int signal, siginfo_t* info, void* context) {
    const bool withInfo = (before.sa_flags & SA_SIGINFO) != 0;
    if (withInfo ? before.sa_sigaction == nullptr
                 : (before.sa_handler == SIG_DFL || before.sa_handler == SIG_IGN))
        return;
    sigset_t saved;
    pthread_sigmask(SIG_BLOCK, &before.sa_mask, &saved);
    if (withInfo)
        before.sa_sigaction(signal, info, context);
    else
        before.sa_handler(signal);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

// Appends the decimal digits of a non-negative number (signal context: no formatting library).
char* appendNumber(char* out, long value) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && n < 24);
    while (n > 0) *out++ = digits[--n];
    return out;
}

// "[Vocalynx] Ending on signal N from process P" for a signal another process sent, so that a
// program ended from outside says who ended it.
void logSender(int signal, const siginfo_t* info) {
    if (!info || info->si_code > 0) return;  // a fault or the kernel's own, not a sender
    static const char head[] = "[Vocalynx] Ending on signal ";
    static const char from[] = " from process ";
    char line[128];
    char* p = line;
    for (const char* c = head; *c; ++c) *p++ = *c;
    p = appendNumber(p, signal);
    for (const char* c = from; *c; ++c) *p++ = *c;
    p = appendNumber(p, info->si_pid > 0 ? info->si_pid : 0);
    *p++ = '\n';
    ssize_t ignored = ::write(STDOUT_FILENO, line, static_cast<size_t>(p - line));
    (void)ignored;
}

extern "C" void handleFatalSignal(int signal, siginfo_t* info, void* context) {
    // Signal context: only async-signal-safe calls from here on.
    const int savedErrno = errno;
    handlingFatalSignal.store(true);
    logSender(signal, info);
    // The speech process first, so that it never outlives us, whatever the next handler does.
    const int pid = persistentColiPid.load(std::memory_order_relaxed);
    if (pid > 0) ::kill(pid, SIGTERM);
    // Key codes bound for typing go back to unmapped, a Caps Lock unlocked for typing is locked again.
    XTestKeyInjection::restoreOnSignal();
    // Then whoever was there before us (the crash reporter writes its report here).
    if (const struct sigaction* before = previousFor(signal)) runPrevious(*before, signal, info, context);
    // Then end the way the signal says: default disposition, unblocked, raised again. A fault
    // ignored before us is treated as its default too; returning would only fault again.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    errno = savedErrno;
}

}  // namespace

bool installFatalSignalHandlers() {
    if (installed.exchange(true)) return false;
    for (int i = 0; i < kFatalSignalCount; ++i) {
        const int signal = kFatalSignals[i];
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) != 0) continue;
        const bool ignored = !(before.sa_flags & SA_SIGINFO) && before.sa_handler == SIG_IGN;
        if (ignored && isAsynchronous(signal)) continue;
        previous[i] = before;
        chained[i] = true;
        struct sigaction ours {};
        ours.sa_sigaction = handleFatalSignal;
        sigemptyset(&ours.sa_mask);
        // On the alternate stack when the crash reporter set one up, so that a stack overflow
        // still reaches the handlers.
        ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
        if (::sigaction(signal, &ours, nullptr) != 0) chained[i] = false;
    }
    return true;
}

bool fatalSignalHandlersInstalled() { return installed.load(); }

bool fatalSignalBeingHandled() { return handlingFatalSignal.load(); }

}  // namespace vocalynx
