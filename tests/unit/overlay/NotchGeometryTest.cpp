#include <gtest/gtest.h>

#include "FakeScreens.h"
#include "TestRuntime.h"
#include "core/ConfigStore.h"
#include "overlay/NotchGeometry.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

struct MeasureCase {
    const char* name;
    ScreenDescription screen;
    double width, height, minX, maxX;
    bool hasNotch, isBuiltIn;
};

}  // namespace

TEST(NotchMetrics, MeasuresScreens) {
    ScreenDescription menuBarHidden = notchedLaptopScreen();
    menuBarHidden.visibleFrame = QRectF(0, 0, 1512, 982);
    ScreenDescription hiddenBarNoInset = plainScreen({0, 0, 1920, 1080}, 0, QStringLiteral("HDMI-1"));
    ScreenDescription olderLaptop = plainScreen({0, 0, 1440, 900}, 25, QStringLiteral("eDP-1"), true);
    ScreenDescription visibleAboveFrame = plainScreen({0, 0, 1920, 1080}, 0, QStringLiteral("DP-1"));
    visibleAboveFrame.visibleFrame = QRectF(0, 0, 1920, 1090);
    ScreenDescription offsetScreen = plainScreen({1920, 200, 1280, 800}, 30, QStringLiteral("DP-2"));

    const std::vector<MeasureCase> cases = {
        {"notched built-in", notchedLaptopScreen(), 188, 38, 662, 850, true, true},
        {"menu bar hidden keeps the safe inset", menuBarHidden, 188, 32, 662, 850, true, true},
        {"external tab", plainScreen({0, 0, 1920, 1080}, 25, QStringLiteral("HDMI-1")), 172, 25, 874, 1046, false,
         false},
        {"never below 24", hiddenBarNoInset, 172, 24, 874, 1046, false, false},
        {"built-in without notch", olderLaptop, 185, 25, 627.5, 812.5, false, true},
        {"negative bar counts as zero", visibleAboveFrame, 172, 24, 874, 1046, false, false},
        {"tab centred on a screen right of the primary", offsetScreen, 172, 30, 2474, 2646, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const NotchMetrics m = NotchMetrics::of(c.screen);
        EXPECT_DOUBLE_EQ(m.notchWidth, c.width);
        EXPECT_DOUBLE_EQ(m.notchHeight, c.height);
        EXPECT_DOUBLE_EQ(m.notchMinX, c.minX);
        EXPECT_DOUBLE_EQ(m.notchMaxX, c.maxX);
        EXPECT_NEAR(m.notchMaxX - m.notchMinX, m.notchWidth, 1e-9);
        EXPECT_EQ(m.hasNotch, c.hasNotch);
        EXPECT_EQ(m.isBuiltIn, c.isBuiltIn);
        EXPECT_EQ(m.screenFrame, c.screen.frame);
    }
}

TEST(NotchMetrics, WithoutAScreenTakesTheMainOneOrTheDefaults) {
    FakeScreenList screens;
    const NotchMetrics none = NotchMetrics::measure(std::nullopt, screens);
    EXPECT_EQ(none.notchWidth, 185);
    EXPECT_EQ(none.notchHeight, 32);
    EXPECT_EQ(none.notchMinX, 0);
    EXPECT_EQ(none.notchMaxX, 185);
    EXPECT_TRUE(none.screenFrame.isNull());
    EXPECT_FALSE(none.hasNotch);
    EXPECT_FALSE(none.isBuiltIn);

    screens.list = {plainScreen({0, 0, 1920, 1080}, 25, QStringLiteral("HDMI-1"))};
    EXPECT_EQ(NotchMetrics::measure(std::nullopt, screens).notchMinX, 874);
}

TEST(ScreenIdentity, IdentifierAndBuiltInTest) {
    ScreenDescription numbered = notchedLaptopScreen();
    EXPECT_EQ(displayIdentifier(numbered), QStringLiteral("screen:1"));
    numbered.displayNumber = 4294967295u;
    EXPECT_EQ(displayIdentifier(numbered), QStringLiteral("screen:4294967295"));
    EXPECT_EQ(displayIdentifier(plainScreen({0, 0, 10, 10}, 0, QStringLiteral("DP-3"))), QStringLiteral("screen:DP-3"));

    // Without the platform's answer, a camera housing means built in.
    ScreenDescription unknown = notchedLaptopScreen();
    unknown.builtInQuery.reset();
    EXPECT_TRUE(isBuiltInDisplay(unknown));
    unknown.auxiliaryTopLeftArea.reset();
    EXPECT_FALSE(isBuiltInDisplay(unknown));
    EXPECT_TRUE(isBuiltInDisplay(plainScreen({0, 0, 10, 10}, 0, QStringLiteral("eDP-1"), true)));
}

namespace {

struct ChoiceFixture {
    ChoiceFixture() {
        // Laptop on the left (main), monitor on the right.
        screens.list = {plainScreen({0, 0, 1440, 900}, 25, QStringLiteral("eDP-1"), true),
                        plainScreen({1440, 0, 1920, 1080}, 25, QStringLiteral("HDMI-1"))};
    }
    QString pick(const PreferredDisplay& pref) {
        auto s = targetScreen(pref, screens, pointer);
        return s ? s->localizedName : QStringLiteral("<none>");
    }
    FakeScreenList screens;
    FakePointer pointer;
};

}  // namespace

TEST(TargetScreen, ChoosesByPreference) {
    struct Case {
        const char* name;
        PreferredDisplay pref;
        QPointF pointer;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"auto: pointer on the laptop", PreferredDisplay::automatic(), {100, 100}, QStringLiteral("eDP-1")},
        {"auto: right edge of the left screen belongs to the right one", PreferredDisplay::automatic(),
         {1440, 500}, QStringLiteral("HDMI-1")},
        {"auto: bottom edge is inside", PreferredDisplay::automatic(), {2000, 0}, QStringLiteral("HDMI-1")},
        {"auto: top edge is outside, so the main screen",
         PreferredDisplay::automatic(),
         {2000, 1080},
         QStringLiteral("eDP-1")},
        {"auto: outside every screen", PreferredDisplay::automatic(), {-50, -50}, QStringLiteral("eDP-1")},
        {"builtin", PreferredDisplay::builtin(), {2000, 500}, QStringLiteral("eDP-1")},
        {"external", PreferredDisplay::external(), {100, 100}, QStringLiteral("HDMI-1")},
        {"screen id", PreferredDisplay::screen(QStringLiteral("screen:HDMI-1")), {}, QStringLiteral("HDMI-1")},
        {"screen id is case-sensitive",
         PreferredDisplay::screen(QStringLiteral("screen:hdmi-1")),
         {},
         QStringLiteral("eDP-1")},
        {"unplugged screen", PreferredDisplay::screen(QStringLiteral("screen:DP-7")), {}, QStringLiteral("eDP-1")},
        {"identifier in another form", PreferredDisplay::screen(QStringLiteral("HDMI-1")), {}, QStringLiteral("eDP-1")},
    };
    ChoiceFixture f;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        f.pointer.position = c.pointer;
        EXPECT_EQ(f.pick(c.pref), c.expected);
    }
}

TEST(TargetScreen, FallsBackToTheMainScreenOrNothing) {
    ChoiceFixture f;
    f.screens.list = {plainScreen({0, 0, 1920, 1080}, 25, QStringLiteral("HDMI-1")),
                      plainScreen({1920, 0, 1920, 1080}, 25, QStringLiteral("DP-1"))};
    f.screens.mainIndex = 1;
    EXPECT_EQ(f.pick(PreferredDisplay::builtin()), QStringLiteral("DP-1"));  // only external screens
    f.screens.list = {plainScreen({0, 0, 1440, 900}, 25, QStringLiteral("eDP-1"), true)};
    f.screens.mainIndex = 0;
    EXPECT_EQ(f.pick(PreferredDisplay::external()), QStringLiteral("eDP-1"));  // a laptop alone
    f.screens.mainIndex = -1;
    EXPECT_EQ(f.pick(PreferredDisplay::external()), QStringLiteral("<none>"));
    f.screens.list.clear();
    EXPECT_EQ(f.pick(PreferredDisplay::automatic()), QStringLiteral("<none>"));
}

TEST(TargetScreen, SameNamedScreensShareAnIdentifierAndTheFirstWins) {
    ChoiceFixture f;
    ScreenDescription a = plainScreen({0, 0, 1920, 1080}, 25, QStringLiteral("Monitor"));
    ScreenDescription b = plainScreen({1920, 0, 1920, 1080}, 25, QStringLiteral("Monitor"));
    f.screens.list = {a, b};
    f.screens.mainIndex = 1;
    EXPECT_EQ(displayIdentifier(a), displayIdentifier(b));
    EXPECT_EQ(targetScreen(PreferredDisplay::screen(QStringLiteral("screen:Monitor")), f.screens, f.pointer)->frame,
              a.frame);
}

TEST(TargetScreen, ReadsThePreferenceOnEveryCallAndThePointerOnce) {
    ChoiceFixture f;
    TestRuntime rt;
    ConfigStore config(rt.runtime());
    f.pointer.position = {2000, 500};
    EXPECT_EQ(targetScreen(config, f.screens, f.pointer)->localizedName, QStringLiteral("HDMI-1"));
    EXPECT_EQ(f.pointer.reads, 1);
    config.setPreferredDisplay(PreferredDisplay::builtin());
    EXPECT_EQ(targetScreen(config, f.screens, f.pointer)->localizedName, QStringLiteral("eDP-1"));
}
