#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "GuiTestApp.h"
#include "platform/linux/QtScreens.h"

using namespace vocalynx;

TEST(QtScreens, BuiltInConnectors) {
    struct Case {
        const char* connector;
        bool builtIn;
    };
    for (const Case& c : {Case{"eDP-1", true}, Case{"LVDS1", true}, Case{"DSI-1", true}, Case{"edp-2", true},
                          Case{"HDMI-1", false}, Case{"DP-1", false}, Case{"VGA-1", false}, Case{"", false}}) {
        SCOPED_TRACE(c.connector);
        EXPECT_EQ(QtScreenList::isBuiltInConnector(QString::fromUtf8(c.connector)), c.builtIn);
    }
}

TEST(QtScreens, ConvertsToBottomLeftCoordinatesAndBack) {
    test::guiTestApp();
    QtScreenList list;
    const auto screens = list.screens();
    ASSERT_FALSE(screens.empty());
    QScreen* primary = QGuiApplication::primaryScreen();
    const QRect native = primary->geometry();
    const auto main = list.mainScreen();
    ASSERT_TRUE(main);
    // The primary screen starts at the global origin.
    EXPECT_EQ(main->frame, QRectF(0, 0, native.width(), native.height()));
    EXPECT_EQ(main->localizedName, primary->name());
    // A rectangle hanging from the primary screen's top edge is at native y 0.
    const QRectF hanging(100, native.height() - 40, 300, 40);
    EXPECT_EQ(list.nativeRect(hanging), QRect(native.x() + 100, native.y(), 300, 40));
}
