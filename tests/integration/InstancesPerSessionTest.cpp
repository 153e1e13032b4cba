// A second copy of the application, started by the same user with the same home, ends the first
// only when both run in one desktop session (the same X display or the same session bus). A copy in
// another session (a second seat, a remote desktop) leaves the first running.
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "AppProcess.h"

namespace vocalynx::test {
namespace {

// A program of the other session (its X server or its bus) that prints its address on the first
// line of its output; ended with the test.
class SessionService {
public:
    SessionService(const QString& program, const QStringList& arguments) {
        process_.setProgram(program);
        process_.setArguments(arguments);
        process_.start();
        if (!process_.waitForStarted(10000)) return;
        while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
        }
        address_ = QString::fromUtf8(process_.readLine()).trimmed();
    }
    ~SessionService() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) process_.kill();
        process_.waitForFinished(5000);
    }
    const QString& address() const { return address_; }

private:
    QProcess process_;
    QString address_;
};

TEST(InstancesPerSession, OnlyACopyInTheSameSessionEndsTheFirst) {
    SessionService otherX(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                   QStringLiteral("-screen"), QStringLiteral("0"),
                                                   QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                                                   QStringLiteral("tcp"), QStringLiteral("-ac")});
    SessionService otherBus(QStringLiteral("dbus-daemon"),
                            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                             QStringLiteral("--print-address=1")});
    ASSERT_FALSE(otherX.address().isEmpty()) << "a second X server";
    ASSERT_FALSE(otherBus.address().isEmpty()) << "a second session bus";
    const QString otherDisplay = QLatin1Char(':') + otherX.address();
    const QString ourDisplay = QProcessEnvironment::systemEnvironment().value(QStringLiteral("DISPLAY"));
    const QString ourBus = QProcessEnvironment::systemEnvironment().value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    ASSERT_FALSE(ourDisplay.isEmpty());
    ASSERT_FALSE(ourBus.isEmpty());

    struct Case {
        const char* name;
        QString display;
        QString bus;
        bool firstKeepsRunning;
    };
    const Case cases[] = {
        {"another display and another bus", otherDisplay, otherBus.address(), true},
        // The screen number does not make another display.
        {"the same display on another bus", ourDisplay + QStringLiteral(".0"), otherBus.address(), false},
        {"another display on the same bus", otherDisplay, ourBus, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppProcess first;
        first.start(QStringLiteral(VOCALYNX_APP_BINARY));
        // Past its own look for other instances before the second starts.
        ASSERT_TRUE(first.waitForLine("[Vocalynx][Sparkle] started")) << first.output().toStdString();
        AppProcess second(first.home());
        second.environment().insert(QStringLiteral("DISPLAY"), c.display);
        second.environment().insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), c.bus);
        second.start(QStringLiteral(VOCALYNX_APP_BINARY));
        ASSERT_TRUE(second.waitForLine("[Vocalynx][Sparkle] started")) << second.output().toStdString();
        if (c.firstKeepsRunning) {
            EXPECT_FALSE(second.output().contains(QStringLiteral("other instance(s)"))) << second.output().toStdString();
            // A terminate request would have been sent before the line waited for above.
            EXPECT_FALSE(first.waitForExit(1000)) << "the first copy keeps running";
            EXPECT_EQ(first.process().state(), QProcess::Running);
            ::kill(static_cast<pid_t>(first.process().processId()), SIGTERM);
        } else {
            EXPECT_TRUE(second.output().contains(QStringLiteral("[Vocalynx] Found 1 other instance(s), terminating them...")))
                << second.output().toStdString();
        }
        ASSERT_TRUE(first.waitForExit());
        EXPECT_EQ(first.process().exitCode(), SIGTERM);
        EXPECT_EQ(second.process().state(), QProcess::Running) << "the second copy keeps running";
        ::kill(static_cast<pid_t>(second.process().processId()), SIGTERM);
        EXPECT_TRUE(second.waitForExit());
    }
}

}  // namespace
}  // namespace vocalynx::test
