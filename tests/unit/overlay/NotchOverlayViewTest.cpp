#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>

#include "OverlayFixture.h"
#include "overlay/NotchOverlayView.h"
#include "overlay/OverlayPanelState.h"
#include "overlay/StatusViews.h"

using namespace vocalynx;
using namespace vocalynx::test;

using VisualState = NotchOverlayView::VisualState;
using StatusContent = NotchOverlayView::StatusContent;

namespace {

struct ViewFixture : EngineFixture {
    explicit ViewFixture(NotchMetrics metrics = notchedMetrics()) : view(rt.runtime(), panelState, metrics) {}
    void stage(RecordingState state, bool micReady = false, QString preview = {}, bool hovering = false) {
        panelState.setHovering(hovering);
        view.setEngineValues({state, preview, micReady});
        view.finishAnimations();
    }
    QStringList statusTexts() const {
        QStringList out;
        for (auto* label : view.statusRow().findChildren<StatusTextLabel*>()) out << label->text();
        return out;
    }
    OverlayPanelState panelState;
    NotchOverlayView view;
};

}  // namespace

TEST(NotchPanelShape, RadiiAreClampedToTheRectangle) {
    struct Case {
        const char* name;
        QSizeF size;
        double bottom;
        double concave, effectiveBottom;
    };
    const std::vector<Case> cases = {
        {"idle notched tab 278 x 38", {278, 38}, 14, 9.5, 14},
        {"idle external tab 172 x 25", {172, 25}, 14, 6.25, 12.5},
        {"active strip 388 x 66", {388, 66}, 18, 12, 18},
        {"narrow", {40, 100}, 18, 10, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NotchPanelShape shape{12, c.bottom};
        const QRectF r(QPointF(0, 0), c.size);
        EXPECT_DOUBLE_EQ(shape.effectiveConcaveRadius(r), c.concave);
        EXPECT_DOUBLE_EQ(shape.effectiveBottomRadius(r), c.effectiveBottom);
        const QPainterPath path = shape.path(r);
        // Full width along the top edge, the body below the flare W - 2c wide.
        EXPECT_TRUE(path.contains(QPointF(1.0, 0.01)));
        EXPECT_TRUE(path.contains(QPointF(c.size.width() - 1.0, 0.01)));
        const double midY = c.size.height() * 0.5;
        EXPECT_TRUE(path.contains(QPointF(c.concave + 0.3, midY)));
        EXPECT_FALSE(path.contains(QPointF(c.concave - 0.3, midY)));
        EXPECT_FALSE(path.contains(QPointF(c.size.width() - c.concave + 0.3, midY)));
        EXPECT_FALSE(path.contains(QPointF(c.concave + 0.3, c.size.height() - 0.3)));  // rounded corner
    }
}

TEST(NotchOverlayView, GeometryOfEachVisualState) {
    struct Case {
        const char* name;
        NotchMetrics metrics;
        RecordingState state;
        bool hovering;
        VisualState visual;
        QSizeF body;
        double bottomRadius, shadowOpacity, shadowRadius;
        QRectF cat;
    };
    const std::vector<Case> cases = {
        {"idle, notched", notchedMetrics(), RecordingState::idle, false, VisualState::idle, {278, 38}, 14, 0, 0, {20, 9, 20, 20}},
        {"idle, external", externalMetrics(), RecordingState::idle, false, VisualState::idle, {172, 25}, 14, 0, 0, {20, 2.5, 20, 20}},
        {"recording", notchedMetrics(), RecordingState::recording, false, VisualState::active, {388, 66}, 18, 0.45, 6, {20, 42, 20, 20}},
        {"transcribing, hovering", notchedMetrics(), RecordingState::transcribing, true, VisualState::active, {388, 66}, 18, 0.45, 6, {20, 42, 20, 20}},
        {"hover", notchedMetrics(), RecordingState::idle, true, VisualState::hover, {468, 144}, 18, 0.5, 8, {20, 41, 22, 22}},
        {"hovering while collapsing", notchedMetrics(), RecordingState::collapsing, true, VisualState::idle, {278, 38}, 14, 0, 0, {20, 9, 20, 20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ViewFixture f(c.metrics);
        f.stage(c.state, false, {}, c.hovering);
        EXPECT_EQ(f.view.visualState(), c.visual);
        const QRectF body = f.view.bodyRect();
        EXPECT_EQ(body.size(), c.body);
        // Centred in the panel window and hanging from its top edge.
        EXPECT_EQ(f.view.size(), QSize(qRound(c.metrics.notchWidth + 300), qRound(c.metrics.notchHeight + 116)));
        EXPECT_DOUBLE_EQ(body.center().x(), (c.metrics.notchWidth + 300) / 2);
        EXPECT_DOUBLE_EQ(body.top(), 0);
        const auto look = f.view.presentedLook();
        EXPECT_DOUBLE_EQ(look.bottomRadius, c.bottomRadius);
        EXPECT_DOUBLE_EQ(look.shadowOpacity, c.shadowOpacity);
        EXPECT_DOUBLE_EQ(look.shadowRadius, c.shadowRadius);
        EXPECT_DOUBLE_EQ(f.view.shape().concaveRadius, 12);
        EXPECT_EQ(f.view.catRect(), c.cat);
        EXPECT_EQ(f.view.cat().contentRect(), c.cat.translated(body.topLeft()));
    }
}

TEST(NotchOverlayView, HoverCardHoldsTitleGearAndMediaCard) {
    ViewFixture f;
    f.stage(RecordingState::idle, false, {}, true);
    const double H = 38 + 106, W = 188 + 280;
    EXPECT_EQ(f.view.mediaCardRect(), QRectF(24, H - 80, W - 48, 70));
    EXPECT_EQ(f.view.gearRect(), QRectF(W - 34, 10, 18, 18));
    EXPECT_EQ(f.view.titleRect().topLeft(), QPointF(50, 44));
    EXPECT_TRUE(f.view.mediaCardSlot()->isVisibleTo(&f.view));
    EXPECT_EQ(f.view.mediaCardSlot()->geometry(), QRect(10 + 24, 64, 420, 70));
    EXPECT_TRUE(f.view.title().isVisibleTo(&f.view));
    EXPECT_TRUE(f.view.settingsButton().isVisibleTo(&f.view));
    EXPECT_FALSE(f.view.statusRow().isVisibleTo(&f.view));

    // A card put in later fills the slot.
    auto* card = new QWidget;
    f.view.setMediaCard(card);
    EXPECT_EQ(card->parentWidget(), f.view.mediaCardSlot());
    EXPECT_EQ(card->size(), QSize(420, 70));

    f.stage(RecordingState::idle, false, {}, false);
    EXPECT_FALSE(f.view.mediaCardSlot()->isVisibleTo(&f.view));
    EXPECT_FALSE(f.view.title().isVisibleTo(&f.view));
    EXPECT_FALSE(f.view.settingsButton().isVisibleTo(&f.view));
}

TEST(NotchOverlayView, CatMoodAndStatusRowFollowTheEngine) {
    struct Case {
        RecordingState state;
        bool micReady;
        QString preview;
        PixelCatMood mood;
        StatusContent content;
        QStringList texts;
    };
    const std::vector<Case> cases = {
        {RecordingState::recording, false, QStringLiteral(""), PixelCatMood::connecting, StatusContent::connecting,
         {QStringLiteral("连接麦克风...")}},
        {RecordingState::recording, true, QStringLiteral(""), PixelCatMood::recording, StatusContent::listening, {}},
        {RecordingState::transcribing, false, QStringLiteral(""), PixelCatMood::recording, StatusContent::transcribing,
         {QStringLiteral("转写中...")}},
        {RecordingState::transcribing, true, QStringLiteral("最后的话"), PixelCatMood::recording,
         StatusContent::transcribing, {QStringLiteral("最后的话")}},
        {RecordingState::collapsing, true, QStringLiteral(""), PixelCatMood::idle, StatusContent::none, {}},
        {RecordingState::idle, false, QStringLiteral(""), PixelCatMood::idle, StatusContent::none, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(recordingStateName(c.state).toStdString() + (c.micReady ? " ready" : ""));
        ViewFixture f;
        f.stage(c.state, c.micReady, c.preview);
        EXPECT_EQ(f.view.catMood(), c.mood);
        EXPECT_EQ(f.view.cat().mood(), c.mood);
        EXPECT_EQ(f.view.statusContent(), c.content);
        EXPECT_EQ(f.view.statusRow().isVisibleTo(&f.view), c.content != StatusContent::none);
        EXPECT_EQ(f.statusTexts(), c.texts);
        EXPECT_EQ(f.view.statusRow().findChildren<StreamingTextView*>().size(),
                  c.content == StatusContent::listening ? 1 : 0);
    }
}

// The row names AirPods while they start only when they are the recording's microphone; learning
// which microphone records renames the row in place.
TEST(NotchOverlayView, ConnectingRowNamesAirPodsOnlyWhenTheyRecord) {
    ViewFixture f;
    f.stage(RecordingState::recording, false);
    EXPECT_EQ(f.statusTexts(), QStringList{QStringLiteral("连接麦克风...")});
    f.view.setEngineValues({RecordingState::recording, {}, false, true});
    EXPECT_EQ(f.statusTexts(), QStringList{QStringLiteral("连接 AirPods 麦克风...")});
}

TEST(NotchOverlayView, MicrophoneReadyChangesTheRowWithoutASizeAnimation) {
    ViewFixture f;
    f.stage(RecordingState::recording, false);
    auto* arcBefore = f.view.statusRow().findChild<SpinningArc*>();
    ASSERT_NE(arcBefore, nullptr);
    f.view.setEngineValues({RecordingState::recording, {}, true});
    EXPECT_FALSE(f.view.isAnimating());
    EXPECT_EQ(f.view.statusContent(), StatusContent::listening);
    EXPECT_EQ(f.view.statusRow().findChild<SpinningArc*>(), nullptr);
    // The live transcript then streams into the row's view.
    f.view.setEngineValues({RecordingState::recording, QStringLiteral("你好"), true});
    auto* stream = f.view.statusRow().findChild<StreamingTextView*>();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->model().newText, QStringLiteral("你好"));
}

TEST(NotchOverlayView, StateChangesAnimateWithTheEnteredStatesCurve) {
    ViewFixture f;
    f.stage(RecordingState::idle);
    const MonoTime start = f.rt.time.now();
    f.panelState.setHovering(true);
    ASSERT_TRUE(f.view.isAnimating());
    EXPECT_EQ(f.view.bodyRect().size(), QSizeF(278, 38));  // starts from what was shown
    f.rt.time.advance(0.1);
    const QSizeF mid = f.view.bodyRect().size();
    EXPECT_GT(mid.width(), 278);
    EXPECT_LT(mid.width(), 468);
    const double springTime = NotchOverlayView::animationFor(VisualState::hover).duration();
    f.rt.time.advance(springTime);
    EXPECT_FALSE(f.view.isAnimating());
    EXPECT_EQ(f.view.bodyRect().size(), QSizeF(468, 144));
    EXPECT_LT(secondsBetween(start, f.rt.time.now()), 0.6);

    // Leaving the hover takes the quick ease-out back to the tab.
    f.panelState.setHovering(false);
    f.rt.time.advance(0.1);
    EXPECT_TRUE(f.view.isAnimating());
    f.rt.time.advance(0.1);
    EXPECT_FALSE(f.view.isAnimating());
    EXPECT_EQ(f.view.bodyRect().size(), QSizeF(278, 38));
    EXPECT_FALSE(f.view.title().isVisibleTo(&f.view));
}

TEST(NotchOverlayView, ANewScreenResizesAtOnceUnlessTheStateChangesToo) {
    ViewFixture f;
    f.stage(RecordingState::recording, true);
    f.view.setMetrics(externalMetrics());
    EXPECT_FALSE(f.view.isAnimating());
    EXPECT_EQ(f.view.bodyRect().size(), QSizeF(372, 53));
    EXPECT_EQ(f.view.size(), QSize(472, 141));
}

TEST(NotchOverlayView, FollowsThePublishedEngineValues) {
    ViewFixture f;
    f.view.observeEngine(f.engine);
    f.engine.setState(RecordingState::recording, QStringLiteral("test"));
    EXPECT_EQ(f.view.catMood(), PixelCatMood::connecting);
    f.engine.setMicReady(true);
    f.engine.setPreviewText(QStringLiteral("一二三"));
    EXPECT_EQ(f.view.engineValues().previewText, QStringLiteral("一二三"));
    EXPECT_EQ(f.view.statusContent(), StatusContent::listening);
    EXPECT_EQ(f.view.visualState(), VisualState::active);
}

TEST(NotchOverlayView, GearOpensSettingsOncePerPressAndRestoresTheCursor) {
    ViewFixture f;
    f.stage(RecordingState::idle, false, {}, true);
    int posts = 0;
    f.rt.notifications.addObserver(notifications::openSettingsFromPanel, [&](const std::any& object) {
        ++posts;
        EXPECT_FALSE(object.has_value());
    });
    QAbstractButton& gear = f.view.settingsButton();
    gear.click();
    EXPECT_EQ(posts, 1);
    gear.click();
    EXPECT_EQ(posts, 2);

    ASSERT_EQ(QGuiApplication::overrideCursor(), nullptr);
    QEnterEvent enter(QPointF(9, 9), QPointF(9, 9), QPointF(9, 9));
    QCoreApplication::sendEvent(&gear, &enter);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&gear, &leave);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // The card collapsing under the pointer also gives the cursor back.
    QCoreApplication::sendEvent(&gear, &enter);
    f.view.show();
    f.stage(RecordingState::idle, false, {}, false);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}
