#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include "AppProcess.h"

// X headers last: their macros clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
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

// The rectangles of the window's bounding shape, in window coordinates (the whole window while it
// is not shaped).
std::vector<QRect> boundingShape(const QString& windowId) {
    std::vector<QRect> out;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return out;
    int count = 0, ordering = 0;
    XRectangle* rects = XShapeGetRectangles(display, static_cast<Window>(windowId.toULong()), ShapeBounding, &count,
                                            &ordering);
    for (int i = 0; i < count; ++i) out.emplace_back(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    if (rects) XFree(rects);
    XCloseDisplay(display);
    return out;
}

long long areaOf(const std::vector<QRect>& rects) {
    long long area = 0;
    for (const QRect& r : rects) area += static_cast<long long>(r.width()) * r.height();
    return area;
}

QRect boundsOf(const std::vector<QRect>& rects) {
    QRect bounds;
    for (const QRect& r : rects) bounds |= r;
    return bounds;
}

// Polls until the window's bounding shape passes the test, or the deadline passes.
template <typename Test>
bool waitForShape(const QString& windowId, Test test, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (test(boundingShape(windowId))) return true;
        QThread::msleep(20);
    }
    return false;
}

// A connection of the test's own to the X server: paints the root window one colour, stands for a
// compositing manager by owning _NET_WM_CM_S0, and reads back what the screen shows.
class TestDisplay {
public:
    static constexpr unsigned long kRootColour = 0x3a6ea5;
    TestDisplay() : display_(XOpenDisplay(nullptr)) {
        if (!display_) return;
        root_ = DefaultRootWindow(display_);
        XSetWindowBackground(display_, root_, kRootColour);
        XClearWindow(display_, root_);
        XSync(display_, False);
    }
    ~TestDisplay() {
        if (!display_) return;
        releaseCompositor();
        XSetWindowBackground(display_, root_, BlackPixel(display_, DefaultScreen(display_)));
        XClearWindow(display_, root_);
        XCloseDisplay(display_);
    }
    bool ok() const { return display_ != nullptr; }

    void takeCompositor() {
        if (!owner_) owner_ = XCreateSimpleWindow(display_, root_, -10, -10, 1, 1, 0, 0, 0);
        XSetSelectionOwner(display_, XInternAtom(display_, "_NET_WM_CM_S0", False), owner_, CurrentTime);
        XSync(display_, False);
    }
    void releaseCompositor() {
        if (!owner_) return;
        XDestroyWindow(display_, owner_);  // the selection goes with its owner
        owner_ = 0;
        XSync(display_, False);
    }

    // What the screen shows in the rectangle (root coordinates).
    QImage grab(const QRect& r) {
        QImage out(r.size(), QImage::Format_RGB32);
        XImage* image = XGetImage(display_, root_, r.x(), r.y(), static_cast<unsigned>(r.width()),
                                  static_cast<unsigned>(r.height()), AllPlanes, ZPixmap);
        if (!image) return {};
        for (int y = 0; y < r.height(); ++y)
            for (int x = 0; x < r.width(); ++x)
                out.setPixel(x, y, 0xff000000u | static_cast<unsigned>(XGetPixel(image, x, y) & 0xffffffu));
        XDestroyImage(image);
        return out;
    }

private:
    Display* display_ = nullptr;
    Window root_ = 0;
    Window owner_ = 0;
};

// Pixels of the picture that are not the root window's colour: what the panel hides.
long long coveredPixels(const QImage& image) {
    long long covered = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xffffffu) != TestDisplay::kRootColour) ++covered;
    return covered;
}

void saveArtifact(const QImage& image, const QString& name) {
    const QString dir = QStringLiteral(VOCALYNX_ARTIFACTS_DIR "/panel-shape");
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
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

// Without a compositing manager a translucent window shows black wherever it is transparent, so
// the panel window is cut to its body: the idle tab (172 x 24 on this external screen) and the
// hover card (452 x 130) hide no more of the desktop than their shapes. A compositor that starts
// gives the window its full frame back; one that stops cuts it again.
TEST(OverlayPanel, CoversOnlyItsBodyWithoutACompositor) {
    TestDisplay x;
    ASSERT_TRUE(x.ok());
    run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("900")});
    AppProcess app;
    app.finishOnboarding();
    app.start(QStringLiteral(VOCALYNX_APP_BINARY));
    ASSERT_TRUE(app.waitForLine("Sentry disabled")) << app.output().toStdString();
    const QStringList windows = waitForPanelWindow();
    ASSERT_EQ(windows.size(), 1);
    const QString panel = windows.first();
    const QRect frame(724, 0, 472, 140);
    // The tab: 172 x 24 with rounded lower corners, centred at the top; one pixel of slack for the
    // edges of the curves.
    const QRect tab(150 - 1, 0, 172 + 2, 24 + 1);
    EXPECT_TRUE(waitForShape(panel, [&](const std::vector<QRect>& shape) {
        return !shape.empty() && tab.contains(boundsOf(shape)) && areaOf(shape) <= 172 * 24;
    })) << areaOf(boundingShape(panel));
    QThread::msleep(200);  // the X server draws the exposed desktop
    const QImage idle = x.grab(frame);
    saveArtifact(idle, QStringLiteral("idle-without-compositor"));
    EXPECT_LE(coveredPixels(idle), 172 * 24 + 2 * (172 + 24));

    run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("960"), QStringLiteral("5")});
    const QRect card(10 - 1, 0, 452 + 2, 130 + 1);
    EXPECT_TRUE(waitForShape(panel, [&](const std::vector<QRect>& shape) {
        return boundsOf(shape).height() >= 130 && card.contains(boundsOf(shape)) && areaOf(shape) <= 452 * 130;
    })) << areaOf(boundingShape(panel));
    QThread::msleep(200);
    const QImage hover = x.grab(frame);
    saveArtifact(hover, QStringLiteral("hover-without-compositor"));
    EXPECT_LE(coveredPixels(hover), 452 * 130 + 2 * (452 + 130));

    // A compositor appears: the whole frame, as a translucent window shows it.
    x.takeCompositor();
    EXPECT_TRUE(waitForShape(panel, [&](const std::vector<QRect>& shape) {
        return shape.size() == 1 && shape.front() == QRect(0, 0, 472, 140);
    })) << areaOf(boundingShape(panel));
    saveArtifact(x.grab(frame), QStringLiteral("hover-with-compositor-stand-in"));

    // It goes away: cut to the body again.
    run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("100"), QStringLiteral("900")});
    x.releaseCompositor();
    EXPECT_TRUE(waitForShape(panel, [&](const std::vector<QRect>& shape) {
        return !shape.empty() && tab.contains(boundsOf(shape));
    })) << areaOf(boundingShape(panel));
    ::kill(static_cast<pid_t>(app.process().processId()), SIGTERM);
    EXPECT_TRUE(app.waitForExit());
}

// The recording panel (the staged picture of a dictation) is cut to its 372 x 52 body.
TEST(OverlayPanel, RecordingShapeIsItsBodyWithoutACompositor) {
    TestDisplay x;
    ASSERT_TRUE(x.ok());
    AppProcess app;
    app.finishOnboarding();
    app.environment().insert(QStringLiteral("VOCALYNX_SCREENSHOT_MODE"), QStringLiteral("recording"));
    app.start(QStringLiteral(VOCALYNX_APP_BINARY));
    ASSERT_TRUE(app.waitForLine("Sentry disabled")) << app.output().toStdString();
    QString panel;
    QDeadlineTimer deadline(15000);
    while (panel.isEmpty() && !deadline.hasExpired()) {
        for (const QString& w : panelWindows()) {
            const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), w});
            if (field(info, QStringLiteral("Width")) == 472) panel = w;
        }
        if (panel.isEmpty()) QThread::msleep(50);
    }
    ASSERT_FALSE(panel.isEmpty()) << app.output().toStdString();
    const QRect body(50 - 1, 0, 372 + 2, 52 + 1);
    std::vector<QRect> last;
    EXPECT_TRUE(waitForShape(panel, [&](const std::vector<QRect>& shape) {
        last = shape;
        return boundsOf(shape).height() >= 52 && body.contains(boundsOf(shape)) && areaOf(shape) <= 372 * 52;
    })) << areaOf(last);
    // The shape drawn over the root colour, as the desktop would show the panel.
    QImage picture(472, 140, QImage::Format_RGB32);
    picture.fill(QColor::fromRgb(static_cast<QRgb>(TestDisplay::kRootColour)));
    QPainter p(&picture);
    for (const QRect& r : last) p.fillRect(r, Qt::black);
    p.end();
    saveArtifact(picture, QStringLiteral("recording-shape-without-compositor"));
    ::kill(static_cast<pid_t>(app.process().processId()), SIGTERM);
    EXPECT_TRUE(app.waitForExit());
}
