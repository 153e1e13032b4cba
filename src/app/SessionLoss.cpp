#include "app/SessionLoss.h"

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QObject>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <mutex>
// After Qt's headers: Xlib defines macros (Status, Bool) that clash with them.
#include <X11/Xlib.h>

#include "app/SignalHandlers.h"
#include "engine/ColiPid.h"

namespace vocalynx {

namespace {
std::function<void()>& shutdownStep() {
    static std::function<void()> step;
    return step;
}
std::atomic<bool> ending{false};
std::once_flag displayWatch;
QtMessageHandler previousMessageHandler = nullptr;

const QString displayLostLine = QStringLiteral("[Vocalynx] The connection to the X server was lost; ending");

// The toolkit's X layer says so in a warning right before it calls exit().
void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (previousMessageHandler) previousMessageHandler(type, context, message);
    else std::fprintf(stderr, "%s\n", qPrintable(message));
    if (type == QtWarningMsg && message.startsWith(QStringLiteral("The X11 connection broke")))
        endForLostService(displayLostLine, 1);
}

// Xlib's own connections (key injection, hot keys, pointer): its default handler calls exit().
int onXlibIOError(Display*) { endForLostService(displayLostLine, 1); }

// Replies to the bus's local signal, sent by the bus library when the connection drops.
class BusWatch final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
public slots:
    void onDisconnected() {
        endForLostService(QStringLiteral("[Vocalynx] The session bus connection was lost; headset gestures and "
                                         "agent events cannot reach us without it, ending"),
                          1);
    }
};
}  // namespace

void setOrderlyShutdown(std::function<void()> shutdown) { shutdownStep() = std::move(shutdown); }

void endForLostService(const QString& line, int code) {
    static std::atomic<Qt::HANDLE> endingThread{nullptr};
    // A fatal-signal handler on another thread puts the keyboard back by ending our typing
    // connection on the server; that loss is its doing, and it ends the process itself.
    if (fatalSignalBeingHandled())
        for (;;) ::pause();
    if (ending.exchange(true)) {
        // A second loss while the first one is being handled: from within the shutdown step it
        // ends the process at once; on another thread it waits for the first one to end it.
        if (endingThread.load() == QThread::currentThreadId()) ::_exit(code);
        for (;;) ::pause();
    }
    endingThread.store(QThread::currentThreadId());
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread() && shutdownStep()) {
        shutdownStep()();
    } else if (const int pid = persistentColiPid.load(); pid > 0) {
        ::kill(pid, SIGTERM);
    }
    std::fflush(stdout);
    ::_exit(code);
}

void watchDisplayConnection() {
    std::call_once(displayWatch, [] {
        previousMessageHandler = qInstallMessageHandler(onQtMessage);
        XSetIOErrorHandler(onXlibIOError);
    });
}

void watchSessionBus(QObject* context) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    auto* watch = new BusWatch(context);
    bus.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"), QStringLiteral("org.freedesktop.DBus.Local"),
                QStringLiteral("Disconnected"), watch, SLOT(onDisconnected()));
}

}  // namespace vocalynx

#include "SessionLoss.moc"
