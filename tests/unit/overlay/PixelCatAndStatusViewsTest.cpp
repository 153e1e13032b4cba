#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "GuiTestApp.h"
#include "TestRuntime.h"
#include "overlay/OverlayAnimation.h"
#include "overlay/OverlayPalette.h"
#include "overlay/PixelCatSprite.h"
#include "overlay/StatusViews.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

struct CatFixture {
    CatFixture() { guiTestApp(); }
    TestRuntime rt;
};

}  // namespace

TEST(PixelCat, EveryFrameNameIsAShippedImage) {
    CatFixture f;
    int count = 0;
    for (const auto& [mood, names] : PixelCatSprite::frames()) {
        for (const QString& name : names) {
            SCOPED_TRACE(name.toStdString());
            const QImage image = overlayAsset(name);
            ASSERT_FALSE(image.isNull());
            EXPECT_EQ(image.size(), QSize(16, 16));
            ++count;
        }
    }
    EXPECT_EQ(count, 16);
    EXPECT_EQ(PixelCatSprite::frames().at(PixelCatMood::idle).first(), QStringLiteral("CatIdle0"));
    EXPECT_EQ(PixelCatSprite::frames().at(PixelCatMood::connecting).last(), QStringLiteral("CatLoading3"));
    EXPECT_EQ(PixelCatSprite::frames().at(PixelCatMood::recording).last(), QStringLiteral("CatRecording7"));
    EXPECT_TRUE(overlayAsset(QStringLiteral("CatIdle9")).isNull());
    EXPECT_TRUE(overlayAsset(QStringLiteral("../art/CatIdle0")).isNull());
}

TEST(PixelCat, TicksAtTheIntervalOfItsFirstMoodAndLoops) {
    struct Case {
        PixelCatMood mood;
        double interval;
        int frames;
        QString first;
    };
    for (const Case& c : {Case{PixelCatMood::recording, 0.12, 8, QStringLiteral("CatRecording0")},
                          Case{PixelCatMood::idle, 0.22, 4, QStringLiteral("CatIdle0")},
                          Case{PixelCatMood::connecting, 0.22, 4, QStringLiteral("CatLoading0")}}) {
        CatFixture f;
        PixelCatSprite cat(c.mood, f.rt.time.main());
        SCOPED_TRACE(c.first.toStdString());
        EXPECT_EQ(cat.currentFrameName(), c.first);
        EXPECT_DOUBLE_EQ(cat.tickInterval(), c.interval);
        cat.show();
        f.rt.time.advance(c.interval * 0.99);
        EXPECT_EQ(cat.frame(), 0);
        f.rt.time.advance(c.interval * 0.02);
        EXPECT_EQ(cat.frame(), 1);
        f.rt.time.advance(c.interval * (c.frames - 1));
        EXPECT_EQ(cat.frame(), 0);
        EXPECT_EQ(cat.currentFrameName(), c.first);
    }
}

TEST(PixelCat, MoodChangeKeepsTheCounterAndTheInterval) {
    CatFixture f;
    PixelCatSprite cat(PixelCatMood::recording, f.rt.time.main());
    cat.show();
    f.rt.time.advance(0.12 * 6 + 0.001);
    ASSERT_EQ(cat.currentFrameName(), QStringLiteral("CatRecording6"));
    cat.setMood(PixelCatMood::idle);
    EXPECT_EQ(cat.currentFrameName(), QStringLiteral("CatIdle2"));
    f.rt.time.advance(0.12);
    EXPECT_EQ(cat.currentFrameName(), QStringLiteral("CatIdle3"));  // still the recording pace

    PixelCatSprite slow(PixelCatMood::idle, f.rt.time.main());
    slow.show();
    slow.setMood(PixelCatMood::recording);
    f.rt.time.advance(0.2);
    EXPECT_EQ(slow.frame(), 0);
    f.rt.time.advance(0.03);
    EXPECT_EQ(slow.currentFrameName(), QStringLiteral("CatRecording1"));
}

TEST(PixelCat, TimerRunsOnlyWhileShown) {
    CatFixture f;
    PixelCatSprite cat(PixelCatMood::idle, f.rt.time.main());
    f.rt.time.advance(1.0);
    EXPECT_EQ(cat.frame(), 0);
    cat.show();
    f.rt.time.advance(0.23);
    EXPECT_EQ(cat.frame(), 1);
    cat.hide();
    EXPECT_FALSE(cat.isTicking());
    f.rt.time.advance(1.0);
    EXPECT_EQ(cat.frame(), 1);
}

namespace {

// The virtual main queue as the real one reports itself: coarse timers on 50 ms steps.
class SteppedMainQueue final : public MainQueue {
public:
    explicit SteppedMainQueue(MainQueue& inner) : inner_(inner) {}
    void post(Task task) override { inner_.post(std::move(task)); }
    TaskHandle postAfter(Duration delay, Task task) override { return inner_.postAfter(delay, std::move(task)); }
    bool isCurrent() const override { return inner_.isCurrent(); }
    Duration coarseStep() const override { return Duration(0.05); }

private:
    MainQueue& inner_;
};

}  // namespace

// The cat's coarse frames fall on the steps of the pointer poll (so they share its wake-ups)
// and still keep their interval on average; other tickers keep their exact interval.
TEST(FrameTickerSteps, CoarseTicksFallOnStepsAndKeepTheirIntervalOnAverage) {
    struct Case {
        double interval;
        TickTiming timing;
        bool onSteps;
    };
    for (const Case& c : {Case{0.22, TickTiming::coarse, true}, Case{0.12, TickTiming::coarse, true},
                          Case{0.05, TickTiming::coarse, true}, Case{1.0, TickTiming::coarse, false},
                          Case{0.22, TickTiming::precise, false}}) {
        SCOPED_TRACE(testing::Message() << c.interval << (c.timing == TickTiming::coarse ? " coarse" : " precise"));
        TestRuntime rt;
        SteppedMainQueue main(rt.time.main());
        const MonoTime start = rt.time.now();
        std::vector<double> at;
        FrameTicker ticker(main, [&] { at.push_back(secondsBetween(start, rt.time.now())); }, c.interval, c.timing);
        ticker.start();
        rt.time.advance(c.interval * 40 + 0.001);
        ticker.stop();
        ASSERT_EQ(at.size(), 40u);
        for (size_t k = 0; k < at.size(); ++k) {
            const double due = c.interval * double(k + 1);
            if (c.onSteps) {
                EXPECT_NEAR(at[k] / 0.05, std::round(at[k] / 0.05), 1e-6) << "tick " << k;
                EXPECT_LE(std::abs(at[k] - due), 0.025 + 1e-6) << "tick " << k;
            } else {
                EXPECT_NEAR(at[k], due, 1e-6) << "tick " << k;
            }
        }
        rt.time.advance(1.0);
        EXPECT_EQ(at.size(), 40u);
    }
}

TEST(PixelCat, DrawsTheCatBrightenedWithItsGlow) {
    CatFixture f;
    PixelCatSprite cat(PixelCatMood::recording, f.rt.time.main());
    const QImage image = cat.render(20, 2).convertToFormat(QImage::Format_ARGB32);
    // The glow's colour shows beside the cat (left of the square, outside the art).
    const QColor glow = image.pixelColor(static_cast<int>((PixelCatSprite::kBleed - 2) * 2),
                                         static_cast<int>((PixelCatSprite::kBleed + 10) * 2));
    EXPECT_GT(glow.alpha(), 0);
    EXPECT_GT(glow.red(), glow.blue());
    // The art's darkest outline comes out light: no opaque pixel of the cat is darker than mid grey.
    int catPixels = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 255) {
                ++catPixels;
                EXPECT_GT(c.value(), 120) << x << "," << y;
            }
        }
    EXPECT_GT(catPixels, 100);
}

// ---- title ----

TEST(TitleView, ImageOrThreeLayerFallback) {
    guiTestApp();
    VocalynxTitleView title(QStringLiteral("VocalynxTitle"));
    EXPECT_FALSE(title.usesFallback());
    const QImage asset = overlayAsset(QStringLiteral("VocalynxTitle"));
    EXPECT_DOUBLE_EQ(title.contentSize().height(), 16);
    EXPECT_DOUBLE_EQ(title.contentSize().width(), 16.0 * asset.width() / asset.height());

    VocalynxTitleView missing(QStringLiteral("NoSuchTitle"));
    EXPECT_TRUE(missing.usesFallback());
    const QImage word = missing.render(2).convertToFormat(QImage::Format_ARGB32);
    int lit = 0;
    for (int y = 0; y < word.height(); ++y)
        for (int x = 0; x < word.width(); ++x)
            if (word.pixelColor(x, y).alpha() > 200) ++lit;
    EXPECT_GT(lit, 50);  // the word is drawn, not an empty frame
}

// ---- indicator and spinner ----

TEST(StatusAnimations, BreathingSwingsBackAndSpinnerTurns) {
    CatFixture f;
    BreathingIndicator dot(OverlayPalette::recording(), f.rt.time, f.rt.time.main());
    SpinningArc arc(f.rt.time, f.rt.time.main());
    dot.show();
    arc.show();
    EXPECT_DOUBLE_EQ(dot.phase(), 0);
    EXPECT_DOUBLE_EQ(arc.rotation(), 0);
    f.rt.time.advance(0.45);
    EXPECT_NEAR(arc.rotation(), 180, 1e-6);
    f.rt.time.advance(0.1);
    EXPECT_NEAR(dot.phase(), 0.5, 1e-6);  // half way through the first swell
    f.rt.time.advance(0.55);
    EXPECT_NEAR(dot.phase(), 1, 1e-6);
    f.rt.time.advance(1.1);
    EXPECT_NEAR(dot.phase(), 0, 1e-6);  // reversed back to rest
    dot.hide();
    EXPECT_DOUBLE_EQ(dot.phase(), 0);
}

// ---- streaming text ----

TEST(StreamingText, ExtensionRevisionAndClearing) {
    using Change = StreamingTextModel::Change;
    struct Step {
        QString text;
        Change change;
        QString stable, fresh;
        bool newIdentity;
    };
    const std::vector<Step> steps = {
        {QStringLiteral("你好"), Change::extended, QStringLiteral(""), QStringLiteral("你好"), true},
        {QStringLiteral("你好世界"), Change::extended, QStringLiteral("你好"), QStringLiteral("世界"), true},
        {QStringLiteral("你好世界"), Change::none, QStringLiteral("你好"), QStringLiteral("世界"), false},
        {QStringLiteral("你好地球"), Change::revised, QStringLiteral("你好地球"), QStringLiteral(""), true},
        {QStringLiteral("你好地球啊"), Change::extended, QStringLiteral("你好地球"), QStringLiteral("啊"), true},
        {QStringLiteral(""), Change::cleared, QStringLiteral(""), QStringLiteral(""), false},
        {QStringLiteral(""), Change::none, QStringLiteral(""), QStringLiteral(""), false},
        // An accent joined to the last letter changes that letter: a revision, not an extension.
        {QStringLiteral("cafe"), Change::extended, QStringLiteral(""), QStringLiteral("cafe"), true},
        {QStringLiteral("cafe\u0301"), Change::revised, QStringLiteral("cafe\u0301"), QStringLiteral(""), true},
    };
    StreamingTextModel model;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.text.toStdString());
        const QUuid before = model.newTextID;
        EXPECT_EQ(model.setText(s.text), s.change);
        EXPECT_EQ(model.stableText, s.stable);
        EXPECT_EQ(model.newText, s.fresh);
        EXPECT_EQ(model.newTextID != before, s.newIdentity);
    }
}

TEST(StreamingText, NewPieceFadesInAndARevisedPieceFadesOut) {
    CatFixture f;
    StreamingTextView view(QString(), f.rt.time, f.rt.time.main());
    view.resize(200, 28);
    view.setText(QStringLiteral("A"));
    EXPECT_DOUBLE_EQ(view.newPieceOpacity(), 0);
    f.rt.time.advance(0.075);
    const double mid = view.newPieceOpacity();
    EXPECT_GT(mid, 0);
    EXPECT_LT(mid, 0.5);  // ease-in: slow start
    f.rt.time.advance(0.08);
    EXPECT_DOUBLE_EQ(view.newPieceOpacity(), 1);

    view.setText(QStringLiteral("AB"));
    view.setText(QStringLiteral("AC"));
    EXPECT_EQ(view.outgoingText(), QStringLiteral("B"));
    EXPECT_DOUBLE_EQ(view.outgoingOpacity(), 1);
    f.rt.time.advance(0.16);
    EXPECT_DOUBLE_EQ(view.outgoingOpacity(), 0);
}

// A fade's frames stop once the fade is over, whether or not the row was painted meanwhile: a
// panel hidden in the middle of a fade (or a row given words while hidden) leaves no timer behind.
TEST(StreamingText, NoFrameTimerOutlivesAFadeWhileHidden) {
    CatFixture f;
    const struct {
        const char* name;
        bool shownFirst;
        QStringList texts;
    } cases[] = {
        {"hidden while the new piece fades in", true, {QStringLiteral("A")}},
        {"hidden while a revised piece fades out", true, {QStringLiteral("AB"), QStringLiteral("AC")}},
        {"words given while never shown", false, {QStringLiteral("你好"), QStringLiteral("你好世界")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StreamingTextView view(QString(), f.rt.time, f.rt.time.main());
        view.resize(200, 28);
        if (c.shownFirst) view.show();
        for (const QString& text : c.texts) view.setText(text);
        view.hide();
        f.rt.time.advance(1.0);
        EXPECT_EQ(f.rt.time.pending(), 0u);
        EXPECT_EQ(view.text(), c.texts.last());
    }
}

TEST(StreamingText, CreatedWithWordsShowsAnEmptyRowUntilTheTextChanges) {
    CatFixture f;
    StreamingTextView view(QStringLiteral("已有的字"), f.rt.time, f.rt.time.main());
    EXPECT_TRUE(view.model().stableText.isEmpty());
    EXPECT_TRUE(view.model().newText.isEmpty());
    view.setText(QStringLiteral("已有的字和新的"));
    EXPECT_EQ(view.model().newText, QStringLiteral("已有的字和新的"));
}

// The row keeps its texts laid out, and the dot its frames drawn, between paints: a view painted at
// every step of a change shows the same picture as one painted only at its end.
TEST(StatusViewCaches, PaintingInBetweenNeverLeavesAStalePicture) {
    CatFixture f;
    struct Step {
        QString text;
        int width;
    };
    const std::vector<Step> steps = {
        {QStringLiteral("你好"), 200},
        {QStringLiteral("你好世界"), 200},
        {QStringLiteral("你好地球"), 200},  // revised: the old piece fades out
        {QStringLiteral("你好地球"), 60},   // narrower: the head is cut
        {QStringLiteral("你好地球，今天天气很好"), 60},
        {QString(), 60},  // the placeholder
        {QStringLiteral("再见"), 120},
    };
    StreamingTextView painted(QString(), f.rt.time, f.rt.time.main());
    std::vector<std::pair<QString, int>> applied;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.text.toStdString() + " at " + std::to_string(s.width));
        painted.resize(s.width, 28);
        painted.setText(s.text);
        applied.emplace_back(s.text, s.width);
        painted.grab();  // at the start of the fade
        f.rt.time.advance(0.05);
        painted.grab();  // under way
        // A fresh view given the same changes, painted for the first time now.
        StreamingTextView fresh(QString(), f.rt.time, f.rt.time.main());
        for (const auto& [text, width] : applied) {
            fresh.resize(width, 28);
            fresh.setText(text);
        }
        painted.finishFades();
        fresh.finishFades();
        EXPECT_EQ(painted.grab().toImage(), fresh.grab().toImage());
    }

    BreathingIndicator dot(OverlayPalette::recording(), f.rt.time, f.rt.time.main());
    dot.show();
    for (int i = 0; i < 30; ++i) {
        f.rt.time.advance(0.05);
        dot.grab();
    }
    const QImage afterSwings = dot.grab().toImage();
    BreathingIndicator second(OverlayPalette::recording(), f.rt.time, f.rt.time.main());
    second.show();
    f.rt.time.advance(30 * 0.05);  // the same phase, reached without a paint
    EXPECT_EQ(second.grab().toImage(), afterSwings);
    EXPECT_NE(afterSwings, BreathingIndicator(OverlayPalette::recording(), f.rt.time, f.rt.time.main()).grab().toImage())
        << "a swollen dot differs from one at rest";
}

// ---- curves ----

TEST(AnimationCurves, SpringAndEaseReachTheirTargets) {
    const AnimationCurve spring = AnimationCurve::spring(0.3, 0.88);
    EXPECT_DOUBLE_EQ(spring.progress(0), 0);
    EXPECT_GT(spring.progress(0.15), 0.8);  // most of the way in half a response
    EXPECT_NEAR(spring.progress(spring.duration() * 0.99), 1, 0.002);
    EXPECT_DOUBLE_EQ(spring.progress(spring.duration()), 1);
    EXPECT_LT(spring.duration(), 0.5);

    const AnimationCurve easeOut = AnimationCurve::ease(CubicBezier::easeOut(), 0.18);
    EXPECT_DOUBLE_EQ(easeOut.duration(), 0.18);
    EXPECT_GT(easeOut.progress(0.09), 0.6);  // fast start
    EXPECT_NEAR(CubicBezier::easeIn().valueAt(0.5), 0.315, 0.01);
    EXPECT_NEAR(CubicBezier::easeInOut().valueAt(0.5), 0.5, 1e-6);
}
