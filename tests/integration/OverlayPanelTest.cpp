#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include "AppProcess.h"

// X headers last: their macros clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

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
    return run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                           QStringLiteral("--class"), QStringLiteral("vocalynx")})
        .split(u'\n', Qt::SkipEmptyParts);
}

// Number of rectangles in the window's input shape: 0 while it lets every click through.
int inputRectangles(const QString& windowId) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return -1;
    int count = 0, ordering = 0;
    XRectangle* rects = XShapeGetRectangles(display, static_cast<Window>(windowId.toULong()), ShapeInput, &count,
                                            &ordering);
    if (rects) XFree(rects);
    XCloseDisplay(display);
    return count;
}

// Polls until the window's input shape has the wanted emptiness, or the deadline passes.
bool waitForClickThrough(const QString& windowId, bool clickThrough, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if ((inputRectangles(windowId) == 0) == clickThrough) return true;
        QThread::msleep(20);
    }
    return false;
}

QStringList waitForPanelWindow() {
    QStringList windows;
    QDeadlineTimer deadline(15000);
    while (windows.isEmpty() && !deadline.hasExpired()) {
        windows = panelWindows();
        if (windows.isEmpty()) QThread::msleep(50);  // polling for the window to appear, not timing
    }
    return windows;
}

int field(const QString& info, const QString& name) {
    const auto match =
        QRegularExpression(QRegularExpression::escape(name) + QStringLiteral(R"(:\s+(-?\d+))")).match(info);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

}  // namespace

// The private X server is one 1920 x 1080 screen without a window manager: an external screen, so
// the panel is the 172-point tab's window, 472 x 140, hanging from the top centre.
TEST(OverlayPanel, ShowsAtTheTopCentreOnEveryWorkspace) {
    AppProcess app;
    app.finishOnboarding();  // the panel is then the one window
    app.start(QStringLiteral(VOCALYNX_APP_BINARY));
    ASSERT_TRUE(app.waitForLine("Sentry disabled")) << app.output().toStdString();
    const QStringList windows = waitForPanelWindow();
    ASSERT_EQ(windows.size(), 1) << app.output().toStdString();
    const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), windows.first()});
    EXPECT_EQ(field(info, QStringLiteral("Absolute upper-left X")), 724) << info.toStdString();
    EXPECT_EQ(field(info, QStringLiteral("Absolute upper-left Y")), 0);
    EXPECT_EQ(field(info, QStringLiteral("Width")), 472);
    EXPECT_EQ(field(info, QStringLiteral("Height")), 140);
    const QString props = run(
        QStringLiteral("xprop"),
        {QStringLiteral("-id"), windows.first(), QStringLiteral("_NET_WM_DESKTOP"), QStringLiteral("_NET_WM_STATE")});
    EXPECT_TRUE(props.contains(QStringLiteral("_NET_WM_DESKTOP(CARDINAL) = 4294967295"))) << props.toStdString();
    EXPECT_TRUE(props.contains(QStringLiteral("_NET_WM_STATE_ABOVE"))) << props.toStdString();
    ::kill(static_cast<pid_t>(app.process().processId()), SIGTERM);
    EXPECT_TRUE(app.waitForExit());
}

// Clicks go through the tab until the pointer rests on it; the expanded card takes them, and lets
// them through again once the pointer leaves.
TEST(OverlayPanel, TakesThePointerOnlyWhileHovered) {
    run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("900")});
    AppProcess app;
    app.finishOnboarding();  // the panel is then the one window
    app.start(QStringLiteral(VOCALYNX_APP_BINARY));
    ASSERT_TRUE(app.waitForLine("Sentry disabled")) << app.output().toStdString();
    const QStringList windows = waitForPanelWindow();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_TRUE(waitForClickThrough(windows.first(), true));
    run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("960"), QStringLiteral("5")});
    EXPECT_TRUE(waitForClickThrough(windows.first(), false));
    run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("900")});
    EXPECT_TRUE(waitForClickThrough(windows.first(), true));
    ::kill(static_cast<pid_t>(app.process().processId()), SIGTERM);
    EXPECT_TRUE(app.waitForExit());
}
