#pragma once
// The production runtime for integration tests: the system clock, the Qt main queue on the test
// thread, real worker threads, and recorded log lines. Needs an application object, which
// ensureApplication() makes once per test program and keeps until the program ends.

#include <QApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <functional>

#include "RecordingLogger.h"
#include "platform/Runtime.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/ThreadQueues.h"

namespace vocalynx::test {

inline QCoreApplication& ensureApplication() {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "integration_tests";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);  // kept: one application object per process
    }
    return *QCoreApplication::instance();
}

// Runs the event loop until the condition holds or the deadline passes; returns the condition.
inline bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

class RealRuntime {
public:
    RealRuntime() : paths_(Paths::under(dir_.path())) { ensureApplication(); }

    Runtime& runtime() { return runtime_; }
    operator Runtime&() { return runtime_; }
    const Paths& paths() const { return paths_; }

    RecordingLogger log;
    SystemClock clock;
    QtMainQueue main;
    NotificationCenter notifications;

private:
    QTemporaryDir dir_;
    InfoDictionary info_;
    Paths paths_;
    Diagnostics diagnostics_{log};

public:
    // Last: its destructor joins the worker threads while everything they use still exists.
    ThreadQueueFactory queues;

private:
    Runtime runtime_{clock, main, queues, notifications, log, diagnostics_, info_, paths_};
};

}  // namespace vocalynx::test
