#include <gtest/gtest.h>

#include "FakeFileDownloader.h"
#include "FakeKeyEventInjection.h"
#include "FakeScreens.h"
#include "FakeSoundOutput.h"
#include "FakeWorkspace.h"
#include "GuiTestApp.h"
#include "FakeProcessTable.h"
#include "TestRuntime.h"
#include "app/AppDelegate.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

class RecordingWorkspaces final : public WindowWorkspaces {
public:
    void showOnAllWorkspaces(quintptr window) override { windows.push_back(window); }
    std::vector<quintptr> windows;
};

struct OverlayLaunchFixture {
    OverlayLaunchFixture() : standard(rt.paths().config, rt.log) {
        guiTestApp();
        screens.list = {plainScreen({0, 0, 1920, 1080}, 25, QStringLiteral("HDMI-1"))};
        windows.setModelManagerFactory(
            [this] { return std::make_unique<ModelManager>(modelsDirectory(rt.paths()), downloads); });
    }
    std::unique_ptr<AppDelegate> make(std::optional<ScreenshotMode> mode) {
        AppDelegate::Components components{rt.runtime(), processes, config, standard, engine, [] {}, {}};
        components.screens = &screens;
        components.pointer = &pointer;
        components.workspaces = &workspaces;
        components.windows = &windows;
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
    RecordingWorkspaces workspaces;
    FakeKeyEventInjection keys;
    FakeUrlOpener urls;
    FakeAlertPresenter alerts;
    FakeFileDownloader downloads;
    WindowManager windows{{rt.runtime(), standard, keys, urls, alerts}};
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

TEST(OverlayLaunch, TheStagedSceneBackdropCoversThePanelsScreenOnEveryWorkspaceBelowThePanel) {
    OverlayLaunchFixture f;
    // The laptop is the main screen; the display setting sends the panel to the monitor beside it.
    f.screens.list = {plainScreen({0, 0, 1512, 982}, 25, QStringLiteral("eDP-1"), true),
                      plainScreen({1512, 0, 1920, 1080}, 25, QStringLiteral("HDMI-1"))};
    f.config.setPreferredDisplay(PreferredDisplay::external());
    auto delegate = f.make(ScreenshotMode{ScreenshotMode::State::recording, std::nullopt});
    delegate->applicationDidFinishLaunching();

    QWidget* backdrop = f.windows.screenshotBackdropWindow();
    ASSERT_TRUE(backdrop);
    ASSERT_TRUE(delegate->overlayPanel());
    QWidget* panel = delegate->overlayPanel()->panel();
    const QRect monitor = f.screens.nativeRect(f.screens.list[1].frame);
    EXPECT_EQ(backdrop->geometry(), monitor);
    EXPECT_TRUE(monitor.contains(panel->geometry().center())) << "the panel and its backdrop share a screen";

    // Kept on every workspace like the panel, and shown before it: at the same stay-on-top level
    // the panel, mapped later, is above it.
    EXPECT_TRUE(backdrop->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    const auto& asked = f.workspaces.windows;
    const auto backdropAsk = std::find(asked.begin(), asked.end(), backdrop->winId());
    const auto panelAsk = std::find(asked.begin(), asked.end(), panel->winId());
    ASSERT_NE(backdropAsk, asked.end());
    ASSERT_NE(panelAsk, asked.end());
    EXPECT_LT(backdropAsk, panelAsk);
}
