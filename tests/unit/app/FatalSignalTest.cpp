// The fatal-signal handlers next to a crash reporter that installed its own handler first. Each
// case runs in a fresh child process (a death test): a stand-in speech process is started, the
// "crash reporter" takes the signal, our handlers are installed, the signal is raised. The speech
// process must end first, the crash reporter's handler must run next, and the process must end by
// the signal.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "app/SignalHandlers.h"
#include "engine/ColiPid.h"

using namespace vocalynx;

namespace {

pid_t speechProcess = 0;

// Standard error is what the death test reads; write() is safe inside a handler.
void say(const char* text) {
    const ssize_t written = ::write(2, text, std::strlen(text));
    (void)written;
}

void sayNumber(int value) {
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0 && n < 11);
    char text[12];
    for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    text[n] = '\0';
    say(text);
}

extern "C" void speechProcessGotTerm(int) {
    say("speech process got SIGTERM\n");
    ::_exit(0);
}

// A child that stands in for the speech process: it says when SIGTERM reaches it, and dies with
// the test process in any case.
pid_t startSpeechStandIn() {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::signal(SIGTERM, speechProcessGotTerm);
        sigset_t term;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
        const ssize_t written = ::write(ready[1], "r", 1);
        (void)written;
        for (;;) ::pause();
    }
    char byte = 0;
    const ssize_t got = ::read(ready[0], &byte, 1);
    (void)got;
    ::close(ready[0]);
    ::close(ready[1]);
    return pid;
}

// The crash reporter's report: it can only find the speech process ended when our handler sent
// it SIGTERM before chaining here.
void report(const char* kind, int signal) {
    int status = 0;
    const bool ended = ::waitpid(speechProcess, &status, 0) == speechProcess;
    say("crash reporter: ");
    say(kind);
    say(" handler for signal ");
    sayNumber(signal);
    say(ended ? ", speech process had ended\n" : ", speech process still running\n");
}

extern "C" void crashReporterWithInfo(int signal, siginfo_t* info, void* context) {
    report(info && info->si_signo == signal && context ? "siginfo" : "siginfo (info lost)", signal);
}

extern "C" void crashReporterPlain(int signal) { report("plain", signal); }

enum class Before { siginfoHandler, plainHandler, defaultAction, ignored };

[[noreturn]] void crashWith(int signal, Before before) {
    struct sigaction reporter {};
    sigemptyset(&reporter.sa_mask);
    switch (before) {
    case Before::siginfoHandler:
        reporter.sa_sigaction = crashReporterWithInfo;
        reporter.sa_flags = SA_SIGINFO;
        break;
    case Before::plainHandler:
        reporter.sa_handler = crashReporterPlain;
        break;
    case Before::defaultAction:
        reporter.sa_handler = SIG_DFL;
        break;
    case Before::ignored:
        reporter.sa_handler = SIG_IGN;
        break;
    }
    ::sigaction(signal, &reporter, nullptr);
    speechProcess = startSpeechStandIn();
    persistentColiPid.store(speechProcess);
    // A reporter left waiting for a speech process that nobody ended fails the case instead of
    // hanging it.
    ::alarm(30);
    installFatalSignalHandlers();
    ::raise(signal);
    // Only an ignored signal comes back here.
    struct sigaction now {};
    ::sigaction(signal, nullptr, &now);
    say(!(now.sa_flags & SA_SIGINFO) && now.sa_handler == SIG_IGN ? "still running, the signal is still ignored\n"
                                                                  : "still running, the signal is handled\n");
    ::kill(speechProcess, SIGKILL);
    ::_exit(0);
}

}  // namespace

TEST(FatalSignals, EndTheSpeechProcessThenChainToTheCrashReporterThenEndByTheSignal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // each case in a fresh process
    struct Case {
        const char* what;
        int signal;
        Before before;
        std::function<bool(int)> ends;
        const char* output;
    };
    const Case cases[] = {
        {"a fault, reporter with siginfo", SIGSEGV, Before::siginfoHandler, testing::KilledBySignal(SIGSEGV),
         "speech process got SIGTERM.*crash reporter: siginfo handler for signal 11, speech process had ended"},
        {"a termination request, reporter with siginfo", SIGTERM, Before::siginfoHandler,
         testing::KilledBySignal(SIGTERM),
         "speech process got SIGTERM.*crash reporter: siginfo handler for signal 15, speech process had ended"},
        {"an abort, plain reporter", SIGABRT, Before::plainHandler, testing::KilledBySignal(SIGABRT),
         "speech process got SIGTERM.*crash reporter: plain handler for signal 6, speech process had ended"},
        // Nothing to chain to: the process simply ends by the signal. (The speech process is told
        // first on the same path as above; here nothing could wait to see it end.)
        {"an interrupt, nothing before", SIGINT, Before::defaultAction, testing::KilledBySignal(SIGINT), ""},
        {"a fault that was ignored still ends the process", SIGBUS, Before::ignored, testing::KilledBySignal(SIGBUS),
         ""},
        {"a hang-up ignored by the parent (nohup) stays ignored", SIGHUP, Before::ignored, testing::ExitedWithCode(0),
         "still running, the signal is still ignored"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EXIT(crashWith(c.signal, c.before), c.ends, c.output);
    }
}
