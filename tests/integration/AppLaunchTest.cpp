#include <QCoreApplication>
#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QFile>

#include "AppProcess.h"

namespace {
// True once the process's main thread sleeps in poll/ppoll, i.e. its launch road has returned to
// the event loop (the road itself runs without waiting for events).
bool waitUntilIdleInEventLoop(qint64 pid, int timeoutMs = 15000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QFile f(QStringLiteral("/proc/%1/syscall").arg(pid));
        if (f.open(QIODevice::ReadOnly)) {
            const QByteArray number = f.readAll().split(' ').value(0).trimmed();
            if (number == "7" || number == "271") return true;
        }
        QFile(QStringLiteral("/proc/%1/stat").arg(pid)).open(QIODevice::ReadOnly);  // yield briefly
    }
    return false;
}
}  // namespace

using vocalynx::test::AppProcess;

TEST(AppLaunch, PrintsTheLaunchLinesAndEndsBySigterm) {
    AppProcess app;
    app.start(QStringLiteral(VOCALYNX_APP_BINARY));
    ASSERT_TRUE(app.waitForLine("[Vocalynx] Sentry disabled: SentryDSN is empty"))
        << app.output().toStdString();
    // The updater's line comes after the fatal-signal handlers are in place; a signal before them
    // ends the program by the default action, without the line below.
    ASSERT_TRUE(app.waitForLine("[Vocalynx][Sparkle] started")) << app.output().toStdString();
    ::kill(static_cast<pid_t>(app.process().processId()), SIGTERM);
    ASSERT_TRUE(app.waitForExit());
    EXPECT_EQ(app.process().exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(app.process().exitCode(), SIGTERM) << "the process ends by the signal itself";
    // It says who ended it.
    EXPECT_TRUE(app.output().contains(QStringLiteral("[Vocalynx] Ending on signal %1 from process %2\n")
                                          .arg(SIGTERM)
                                          .arg(QCoreApplication::applicationPid())))
        << app.output().toStdString();
}

TEST(AppLaunch, ASecondCopyTerminatesTheFirst) {
    AppProcess first;
    first.start(QStringLiteral(VOCALYNX_APP_BINARY));
    ASSERT_TRUE(first.waitForLine("Sentry disabled")) << first.output().toStdString();
    // The first copy must have finished its own look for other instances before the second starts.
    ASSERT_TRUE(waitUntilIdleInEventLoop(first.process().processId()));
    AppProcess second;
    second.start(QStringLiteral(VOCALYNX_APP_BINARY));
    ASSERT_TRUE(second.waitForLine("[Vocalynx] Found 1 other instance(s), terminating them..."))
        << second.output().toStdString();
    ASSERT_TRUE(first.waitForExit());
    EXPECT_EQ(first.process().exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(first.process().exitCode(), SIGTERM);
    ::kill(static_cast<pid_t>(second.process().processId()), SIGTERM);
    EXPECT_TRUE(second.waitForExit());
}

TEST(AppLaunch, StartsWithoutAnyDisplay) {
    AppProcess app;
    app.environment().remove(QStringLiteral("DISPLAY"));
    app.environment().remove(QStringLiteral("WAYLAND_DISPLAY"));
    app.environment().remove(QStringLiteral("QT_QPA_PLATFORM"));
    app.start(QStringLiteral(VOCALYNX_APP_BINARY));
    ASSERT_TRUE(app.waitForLine("Sentry disabled")) << app.output().toStdString();
    EXPECT_TRUE(app.output().contains(QStringLiteral("No display found"))) << app.output().toStdString();
    ::kill(static_cast<pid_t>(app.process().processId()), SIGTERM);
    EXPECT_TRUE(app.waitForExit());
}
