#include <gtest/gtest.h>

#include "FakeScreens.h"
#include "FakeSoundOutput.h"
#include "GuiTestApp.h"
#include "FakeProcessTable.h"
#include "TestRuntime.h"
#include "app/AppDelegate.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

struct OverlayLaunchFixture {
    OverlayLaunchFixture() : standard(rt.paths().config, rt.log) {
        guiTestApp();
        screens.list = {plainScreen({0, 0, 1920, 1080}, 25, "HDMI-1")};
    }
    std::unique_ptr<AppDelegate> make(std::optional<ScreenshotMode> mode) {
        AppDelegate::Components components{rt.runtime(), processes, config, standard, engine, [] {}, {}};
        components.screens = &screens;
        components.pointer = &pointer;
        return std::make_unique<AppDelegate>(std::move(components), mode);
    }
    TestRuntime rt;
    FakeProcessTable processes;
    ConfigStore config{rt.runtime()};
    StandardDefaults standard;
    FakeSoundOutput output;
    SoundFeedback sounds{config, output};
    WhisperEngine engine{{rt.runtime(), config, sounds}};
    FakeScreenList screens;
    FakePointer pointer;
};

}  // namespace

TEST(OverlayLaunch, PanelExistsInANormalRunAndAStagedSceneWithoutOutputFolder) {
    struct Case {
        const char* name;
        std::optional<ScreenshotMode> mode;
        bool panel;
        bool tracking;
    };
    const std::vector<Case> cases = {
        {"normal run", std::nullopt, true, true},
        {"screenshot on screen", ScreenshotMode{ScreenshotMode::State::recording, std::nullopt}, true, false},
        {"screenshot to a folder", ScreenshotMode{ScreenshotMode::State::hover, QStringLiteral("/tmp/shots")}, false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OverlayLaunchFixture f;
        auto delegate = f.make(c.mode);
        delegate->applicationDidFinishLaunching();
        ASSERT_EQ(delegate->overlayPanel() != nullptr, c.panel);
        if (!c.panel) continue;
        EXPECT_TRUE(delegate->overlayPanel()->panel()->isVisible());
        EXPECT_EQ(delegate->overlayPanel()->isTrackingPointer(), c.tracking);
        EXPECT_EQ(delegate->overlayPanel()->metrics().notchWidth, 172);
    }
}
