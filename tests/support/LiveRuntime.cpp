#include "LiveRuntime.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include "TestRuntime.h"

namespace vocalynx::test {

QApplication& guiApplication() {
    static int argc = 1;
    static char name[] = "vocalynx-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        auto* a = new QApplication(argc, argv);
        a->setQuitOnLastWindowClosed(false);
        return a;
    }();
    return *app;
}

bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs) {
    guiApplication();
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return condition();
        // A real nested loop (not processEvents), so that the dispatcher blocks and emits
        // aboutToBlock as the application's own loop does.
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

LiveRuntime::LiveRuntime() : LiveRuntime(InfoDictionary(TestRuntime::defaultInfo())) {}

LiveRuntime::LiveRuntime(InfoDictionary info)
    : info_((guiApplication(), std::move(info))),
      paths_(Paths::under(dir_.path())),
      diagnostics_(log),
      runtime_{clock_, main_, queues_, notifications, log, diagnostics_, info_, paths_} {}

}  // namespace vocalynx::test
