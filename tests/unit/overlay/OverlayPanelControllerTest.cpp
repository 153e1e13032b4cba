#include <gtest/gtest.h>

#include "OverlayFixture.h"
#include "overlay/OverlayPanelController.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

class RecordingWorkspaces final : public WindowWorkspaces {
public:
    void showOnAllWorkspaces(quintptr window) override { windows.push_back(window); }
    bool hasCompositor() override { return compositor; }
    std::vector<quintptr> windows;
    bool compositor = true;
};

struct ControllerFixture : EngineFixture {
    ControllerFixture() {
        // The notched laptop is the main screen; a monitor stands to its right.
        screens.list = {notchedLaptopScreen(), plainScreen({1512, 0, 1920, 1080}, 25, QStringLiteral("HDMI-1"))};
        pointer.position = {5000, 5000};
        rt.notifications.addObserver(notifications::overlayPanelFrameDidChange,
                                     [this](const std::any& object) { frames.push_back(std::any_cast<QRectF>(object)); });
    }
    std::unique_ptr<OverlayPanelController> make(std::optional<ScreenshotMode> mode = std::nullopt) {
        return std::make_unique<OverlayPanelController>(
            OverlayPanelController::Dependencies{rt.runtime(), config, engine, screens, pointer, &workspaces, nullptr, {}}, mode);
    }
    FakeScreenList screens;
    FakePointer pointer;
    RecordingWorkspaces workspaces;
    std::vector<QRectF> frames;
};

// Points relative to the panel's top centre (the screen's top edge above the notch).
QPointF belowTopCentre(const OverlayPanelController& c, double dx, double down) {
    const QRectF f = c.panelFrame();
    return QPointF(f.center().x() + dx, f.y() + f.height() - down);
}

}  // namespace

TEST(OverlayPanelController, PlacesThePanelAtTheTopCentreOfTheChosenScreen) {
    ControllerFixture f;
    auto c = f.make();
    // 188 + 300 wide, 38 + 116 high, centred on the notch (662..850), top on the screen's top edge.
    EXPECT_EQ(c->panelFrame(), QRectF(756 - 244, 982 - 154, 488, 154));
    ASSERT_EQ(f.frames.size(), 1u);
    EXPECT_EQ(f.frames.back(), c->panelFrame());
    EXPECT_EQ(c->panel()->geometry(), QRect(512, 0, 488, 154));
    EXPECT_TRUE(c->panel()->isVisible());
    EXPECT_TRUE(c->ignoresMouseEvents());
    const Qt::WindowFlags flags = c->panel()->windowFlags();
    for (Qt::WindowType flag : {Qt::Tool, Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint,
                                Qt::WindowDoesNotAcceptFocus})
        EXPECT_TRUE(flags.testFlag(flag)) << flag;
    EXPECT_TRUE(c->panel()->testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_TRUE(c->panel()->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(f.workspaces.windows.size(), 2u);  // before and after showing
    EXPECT_TRUE(c->isTrackingPointer());
}

TEST(OverlayPanelController, HoverZonesAndTheirHysteresis) {
    struct Step {
        const char* name;
        QPointF offset;  // from the top centre: x right, y down
        RecordingState state;
        bool hovering;
    };
    // Idle tab 278 wide (built in): zone 318 x 58; expanded card 468 x 144: zone 478 x 149.
    const std::vector<Step> steps = {
        {"far away", {400, 300}, RecordingState::idle, false},
        {"on the screen's top edge above the tab", {0, 0}, RecordingState::idle, false},
        {"just under the top edge", {0, 0.5}, RecordingState::idle, true},
        {"still inside the card", {0, 100}, RecordingState::idle, true},
        {"4 points below the card", {0, 148}, RecordingState::idle, true},
        {"6 points below the card, still in the window", {0, 150}, RecordingState::idle, false},
        {"back near the tab, left margin", {-158.5, 30}, RecordingState::idle, true},
        {"beside the card, within 5 points", {238.5, 30}, RecordingState::idle, true},
        {"beside the card, past 5 points", {239.5, 30}, RecordingState::idle, false},
        {"past 20 points below the tab is outside", {0, 58.5}, RecordingState::idle, false},
        {"20 points below the tab (the zone's bottom edge) is inside", {0, 58}, RecordingState::idle, true},
        {"a recording starts over the card", {0, 20}, RecordingState::recording, false},
        {"recording: the tab does not expand", {0, 10}, RecordingState::recording, false},
        {"idle again", {0, 10}, RecordingState::idle, true},
    };
    ControllerFixture f;
    auto c = f.make();
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        if (f.engine.state() != s.state) f.engine.setState(s.state, QStringLiteral("test"));
        f.pointer.position = belowTopCentre(*c, s.offset.x(), s.offset.y());
        c->hoverCheck();
        EXPECT_EQ(c->panelState().isHovering(), s.hovering);
        EXPECT_EQ(c->ignoresMouseEvents(), !s.hovering);
    }
}

TEST(OverlayPanelController, ExternalScreenZoneIsTheTabPlusForty) {
    ControllerFixture f;
    f.screens.list = {plainScreen({0, 0, 1920, 1080}, 25, QStringLiteral("HDMI-1"))};
    auto c = f.make();
    EXPECT_EQ(c->hoverZone(), QRectF(960 - 86 - 20, 1080 - 25 - 20, 172 + 40, 25 + 20));
}

TEST(OverlayPanelController, EqualDecisionsPublishNothing) {
    ControllerFixture f;
    auto c = f.make();
    int published = 0;
    QObject::connect(&c->panelState(), &OverlayPanelState::isHoveringChanged, [&] { ++published; });
    f.pointer.position = belowTopCentre(*c, 0, 10);
    c->hoverCheck();
    c->hoverCheck();
    c->handleHover(true);
    EXPECT_EQ(published, 1);
    c->handleHover(false);
    c->handleHover(false);
    EXPECT_EQ(published, 2);
}

TEST(OverlayPanelController, PollsTwentyTimesASecond) {
    ControllerFixture f;
    auto c = f.make();
    const int before = f.pointer.reads;
    f.rt.time.advance(1.0);
    EXPECT_EQ(f.pointer.reads - before, 20);
    f.pointer.position = belowTopCentre(*c, 0, 10);
    f.rt.time.advance(0.05);
    EXPECT_TRUE(c->panelState().isHovering());
    // A view left alone repaints nothing: the poll runs but no animation is pending.
    f.rt.time.advance(1.0);
    EXPECT_FALSE(c->view()->isAnimating());
}

TEST(OverlayPanelController, WhileDictatingThePollAsksNoPointer) {
    ControllerFixture f;
    auto c = f.make();
    f.pointer.position = belowTopCentre(*c, 0, 10);
    for (const RecordingState state : {RecordingState::recording, RecordingState::transcribing}) {
        f.engine.setState(state, QStringLiteral("test"));
        const int before = f.pointer.reads;
        f.rt.time.advance(1.0);
        EXPECT_EQ(f.pointer.reads, before);
        EXPECT_FALSE(c->panelState().isHovering());
    }
    // Back to idle, the pointer over the tab opens the panel at the next poll.
    f.engine.setState(RecordingState::idle, QStringLiteral("test"));
    f.rt.time.advance(0.05);
    EXPECT_TRUE(c->panelState().isHovering());
}

TEST(OverlayPanelController, RecordingCollapsesTheCardAtOnce) {
    ControllerFixture f;
    auto c = f.make();
    f.pointer.position = belowTopCentre(*c, 0, 10);
    c->hoverCheck();
    ASSERT_TRUE(c->panelState().isHovering());
    f.engine.setState(RecordingState::recording, QStringLiteral("test"));  // no poll in between
    EXPECT_FALSE(c->panelState().isHovering());
    EXPECT_TRUE(c->ignoresMouseEvents());
    EXPECT_EQ(c->view()->visualState(), NotchOverlayView::VisualState::active);
}

TEST(OverlayPanelController, MovesToTheNewlyChosenScreenKeepingTheHover) {
    ControllerFixture f;
    auto c = f.make();
    f.pointer.position = belowTopCentre(*c, 0, 10);
    c->hoverCheck();
    f.config.setPreferredDisplay(PreferredDisplay::external());
    EXPECT_EQ(c->metrics().notchWidth, 188);  // moved on the main queue, not inside the store's lock
    f.rt.time.runUntilIdle();
    EXPECT_EQ(c->metrics().notchWidth, 172);
    EXPECT_EQ(c->panelFrame(), QRectF(1512 + 960 - 236, 1080 - 141, 472, 141));
    EXPECT_EQ(f.frames.back(), c->panelFrame());
    EXPECT_EQ(c->view()->metrics().notchWidth, 172);
    EXPECT_TRUE(c->panelState().isHovering());

    // Unplugging the monitor: the main screen carries the panel again.
    f.screens.list.pop_back();
    f.screens.announceChange();
    f.rt.time.runUntilIdle();
    EXPECT_EQ(c->metrics().notchWidth, 188);
    EXPECT_EQ(c->panelFrame().x(), 512);
}

TEST(OverlayPanelController, ScreenshotModeStagesWithoutTracking) {
    ControllerFixture f;
    auto hover = f.make(ScreenshotMode{ScreenshotMode::State::hover, std::nullopt});
    EXPECT_TRUE(hover->panelState().isHovering());
    EXPECT_TRUE(hover->ignoresMouseEvents());
    EXPECT_FALSE(hover->isTrackingPointer());
    f.rt.time.advance(1.0);
    EXPECT_EQ(f.pointer.reads, 1);  // the one screen choice at start
    EXPECT_EQ(f.screens.handlers.size(), 1u);
    hover.reset();
    EXPECT_TRUE(f.screens.handlers.empty());

    auto idle = f.make(ScreenshotMode{ScreenshotMode::State::idle, std::nullopt});
    EXPECT_FALSE(idle->panelState().isHovering());
    EXPECT_FALSE(idle->isTrackingPointer());
}

TEST(OverlayPanelController, NothingRunsAfterItIsGone) {
    ControllerFixture f;
    auto c = f.make();
    f.config.setPreferredDisplay(PreferredDisplay::external());  // a refresh is queued
    c.reset();
    const int reads = f.pointer.reads;
    f.rt.time.advance(1.0);
    EXPECT_EQ(f.pointer.reads, reads);
    f.rt.notifications.post(notifications::preferredDisplayDidChange);
    f.rt.time.runUntilIdle();
}

// Without a compositing manager the window is cut to the body, through the hover animation and
// back; a compositor starting or stopping is followed within a second.
TEST(OverlayPanelController, ShapedToTheBodyWhileNoCompositorRuns) {
    ControllerFixture f;
    f.workspaces.compositor = false;
    auto c = f.make();
    QWidget* panel = c->panel();
    auto shapeIsBody = [&] {
        const QRegion body = c->view()->bodyRegion();
        return !panel->mask().isEmpty() && panel->mask() == body;
    };
    // Within the body's frame, all of its height: the idle tab is 188 + 90 wide and 38 high on the
    // notched screen, the hover card 188 + 280 by 38 + 106.
    auto fills = [&](const QRect& frame) {
        const QRect bounds = panel->mask().boundingRect();
        return frame.contains(bounds) && bounds.top() == 0 && bounds.height() == frame.height() &&
               bounds.width() >= frame.width() - 2 * 12;
    };
    EXPECT_TRUE(shapeIsBody());
    EXPECT_TRUE(fills(QRect(105, 0, 278, 38))) << panel->mask().boundingRect().x();

    f.pointer.position = belowTopCentre(*c, 0, 10);
    f.rt.time.advance(0.1);
    ASSERT_TRUE(c->view()->isAnimating());
    EXPECT_TRUE(shapeIsBody());
    const QRect growing = panel->mask().boundingRect();
    f.rt.time.advance(1.0);
    EXPECT_TRUE(shapeIsBody());
    EXPECT_GT(panel->mask().boundingRect().height(), growing.height());
    EXPECT_TRUE(fills(QRect(10, 0, 468, 144)));

    f.workspaces.compositor = true;
    f.rt.time.advance(1.0);
    EXPECT_TRUE(panel->mask().isEmpty());
    f.workspaces.compositor = false;
    f.rt.time.advance(1.0);
    EXPECT_TRUE(shapeIsBody());
}
