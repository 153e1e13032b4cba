// The hover poll's pointer reader against the private X server: it asks the server only after the
// pointer moved (or every twentieth read, for warps), and reads the same place QCursor does.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "LiveRuntime.h"
#include "platform/linux/QtScreens.h"
#include "platform/linux/X11PointerLocation.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#undef None
#undef Bool
#undef Status

namespace vocalynx::test {
namespace {

class PointerLocationTest : public ::testing::Test {
protected:
    void SetUp() override {
        guiApplication();
        mover_ = XOpenDisplay(nullptr);
        ASSERT_NE(mover_, nullptr);
    }
    void TearDown() override {
        if (mover_) XCloseDisplay(mover_);
    }
    // Moves the pointer as a device would: the server reports raw motion for it.
    void deviceMove(int x, int y) {
        XTestFakeMotionEvent(mover_, -1, x, y, 0);
        XSync(mover_, False);
    }
    // Places the pointer as a program does: no device moved, so no motion is reported.
    void warp(int x, int y) {
        XWarpPointer(mover_, 0, DefaultRootWindow(mover_), 0, 0, 0, 0, x, y);
        XSync(mover_, False);
    }
    static QPointF expected(int x, int y) { return QtPointerLocation::fromLogical(QPoint(x, y)); }
    // Reads until one goes to the server, so the next reads start a fresh count.
    static void readUntilAsked(X11PointerLocation& pointer) {
        const long asked = pointer.serverQueries();
        while (pointer.serverQueries() == asked) (void)pointer.location();
    }
    Display* mover_ = nullptr;
};

TEST_F(PointerLocationTest, AsksTheServerOnlyAfterMotion) {
    X11PointerLocation pointer;
    ASSERT_TRUE(pointer.tracksMotion());
    deviceMove(300, 400);
    ASSERT_TRUE(processEventsUntil([&] { return pointer.location() == expected(300, 400); }));
    EXPECT_EQ(pointer.location(), QtPointerLocation().location()) << "the same place QCursor reads";

    // At rest: the reads in between the periodic question are answered without the server.
    readUntilAsked(pointer);
    const long before = pointer.serverQueries();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(pointer.location(), expected(300, 400));
    EXPECT_EQ(pointer.serverQueries(), before);

    // Moved: the report arrives, and the next read asks once and has the new place.
    deviceMove(310, 420);
    ASSERT_TRUE(processEventsUntil([&] { return pointer.motionSinceLastQuery(); }));
    EXPECT_EQ(pointer.location(), expected(310, 420));
    EXPECT_EQ(pointer.serverQueries(), before + 1);
    EXPECT_FALSE(pointer.motionSinceLastQuery());
}

TEST_F(PointerLocationTest, AFastMouseWakesTheLoopOnceBetweenReads) {
    X11PointerLocation pointer;
    ASSERT_TRUE(pointer.tracksMotion());
    (void)pointer.location();
    const long wakeups = pointer.motionWakeups();
    deviceMove(500, 500);
    ASSERT_TRUE(processEventsUntil([&] { return pointer.motionSinceLastQuery(); }));
    // The mouse keeps moving while the loop runs; until the next read nothing more wakes it.
    for (int i = 1; i < 50; ++i) {
        deviceMove(500 + i, 500);
        for (int j = 0; j < 3; ++j) QCoreApplication::processEvents();
    }
    EXPECT_EQ(pointer.motionWakeups(), wakeups + 1);
    EXPECT_EQ(pointer.location(), expected(549, 500));

    // Listening again after the read.
    deviceMove(600, 600);
    ASSERT_TRUE(processEventsUntil([&] { return pointer.motionSinceLastQuery(); }));
    EXPECT_EQ(pointer.motionWakeups(), wakeups + 2);
    EXPECT_EQ(pointer.location(), expected(600, 600));
}

TEST_F(PointerLocationTest, AWarpIsSeenByTheTwentiethRead) {
    X11PointerLocation pointer;
    ASSERT_TRUE(pointer.tracksMotion());
    deviceMove(200, 200);
    ASSERT_TRUE(processEventsUntil([&] { return pointer.location() == expected(200, 200); }));
    readUntilAsked(pointer);
    warp(800, 100);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    for (int i = 1; i < X11PointerLocation::kReadsBetweenQueries; ++i)
        ASSERT_EQ(pointer.location(), expected(200, 200)) << "read " << i;
    EXPECT_EQ(pointer.location(), expected(800, 100));
}

}  // namespace
}  // namespace vocalynx::test
