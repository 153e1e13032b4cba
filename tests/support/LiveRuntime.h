#pragma once
// A runtime on real time for integration tests: the Qt main loop, worker-thread queues, the wall
// clock, recorded log lines and every folder inside a fresh temporary directory. Integration tests
// wait on real events with a deadline; they never assert on how long something took.

#include <QTemporaryDir>
#include <functional>

#include "RecordingLogger.h"
#include "platform/Runtime.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/ThreadQueues.h"

class QApplication;

namespace vocalynx::test {

// The one GUI application object of a test program, created on first use.
QApplication& guiApplication();

// Runs the Qt event loop until the condition holds or the deadline passes; returns the condition.
bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

class LiveRuntime {
public:
    LiveRuntime();
    explicit LiveRuntime(InfoDictionary info);

    Runtime& runtime() { return runtime_; }
    operator Runtime&() { return runtime_; }
    QString root() const { return dir_.path(); }

    RecordingLogger log;
    NotificationCenter notifications;

private:
    QTemporaryDir dir_;
    InfoDictionary info_;
    Paths paths_;
    SystemClock clock_;
    QtMainQueue main_;
    ThreadQueueFactory queues_;
    Diagnostics diagnostics_;
    Runtime runtime_;
};

}  // namespace vocalynx::test
