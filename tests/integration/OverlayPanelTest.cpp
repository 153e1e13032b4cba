#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include "AppProcess.h"

using vocalynx::test::AppProcess;

namespace {

QString run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(10000)) return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// The viewable windows of the application, by the class name Qt gives them.
QStringList panelWindows() {
    return run("xdotool", {"search", "--onlyvisible", "--class", "vocalynx"}).split('\n', Qt::SkipEmptyParts);
}

int field(const QString& info, const QString& name) {
    const auto match = QRegularExpression(QRegularExpression::escape(name) + R"(:\s+(-?\d+))").match(info);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

}  // namespace

// The private X server is one 1920 x 1080 screen without a window manager: an external screen, so
// the panel is the 172-point tab's window, 472 x 140, hanging from the top centre.
TEST(OverlayPanel, ShowsAtTheTopCentreOnEveryWorkspace) {
    AppProcess app;
    app.finishOnboarding();  // the panel is then the one window
    app.start(VOCALYNX_APP_BINARY);
    ASSERT_TRUE(app.waitForLine("Sentry disabled")) << app.output().toStdString();
    QStringList windows;
    QDeadlineTimer deadline(15000);
    while (windows.isEmpty() && !deadline.hasExpired()) {
        windows = panelWindows();
        if (windows.isEmpty()) QThread::msleep(50);  // polling for the window to appear, not timing
    }
    ASSERT_EQ(windows.size(), 1) << app.output().toStdString();
    const QString info = run("xwininfo", {"-id", windows.first()});
    EXPECT_EQ(field(info, "Absolute upper-left X"), 724) << info.toStdString();
    EXPECT_EQ(field(info, "Absolute upper-left Y"), 0);
    EXPECT_EQ(field(info, "Width"), 472);
    EXPECT_EQ(field(info, "Height"), 140);
    const QString props = run("xprop", {"-id", windows.first(), "_NET_WM_DESKTOP", "_NET_WM_STATE"});
    EXPECT_TRUE(props.contains("_NET_WM_DESKTOP(CARDINAL) = 4294967295")) << props.toStdString();
    EXPECT_TRUE(props.contains("_NET_WM_STATE_ABOVE")) << props.toStdString();
    ::kill(static_cast<pid_t>(app.process().processId()), SIGTERM);
    EXPECT_TRUE(app.waitForExit());
}
