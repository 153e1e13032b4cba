#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPainter>

#include "OverlayFixture.h"
#include "overlay/NotchOverlayView.h"
#include "overlay/OverlayPalette.h"
#include "overlay/OverlayPanelState.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// Renders the view as it would stand on screen, at two pixels per point, onto transparency.
QImage renderAt2x(NotchOverlayView& view) {
    QImage image(view.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image.convertToFormat(QImage::Format_ARGB32);
}

QColor pixelAt(const QImage& image, QPointF points) {
    return image.pixelColor(static_cast<int>(points.x() * 2), static_cast<int>(points.y() * 2));
}

// True when some pixel in the rectangle (points) is close to the colour with some opacity.
bool hasColourNear(const QImage& image, QRectF points, const QColor& colour) {
    const QRect px(static_cast<int>(points.x() * 2), static_cast<int>(points.y() * 2),
                   static_cast<int>(points.width() * 2), static_cast<int>(points.height() * 2));
    for (int y = std::max(0, px.top()); y <= std::min(image.height() - 1, px.bottom()); ++y)
        for (int x = std::max(0, px.left()); x <= std::min(image.width() - 1, px.right()); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() < 8) continue;
            // Compare the hue of what the glow adds over black: the channel ratios.
            const double scale = colour.red() / std::max(1.0, double(c.red()));
            if (c.red() < 20) continue;
            if (std::abs(c.green() * scale - colour.green()) < 14 && std::abs(c.blue() * scale - colour.blue()) < 14)
                return true;
        }
    return false;
}

void save(const QImage& image, const QString& name) {
    const QString dir = QStringLiteral(VOCALYNX_ARTIFACTS_DIR "/overlay");
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

}  // namespace

TEST(OverlayRender, EachStateAtScaleTwo) {
    struct Case {
        const char* file;
        RecordingState state;
        bool micReady;
        QString preview;
        bool hovering;
        QColor glow;
    };
    const std::vector<Case> cases = {
        {"idle", RecordingState::idle, false, {}, false, OverlayPalette::idle()},
        {"recording-connecting", RecordingState::recording, false, {}, false, OverlayPalette::connecting()},
        {"recording-listening", RecordingState::recording, true, QStringLiteral("今天下午三点开会，记得带上"), false,
         OverlayPalette::recording()},
        {"transcribing", RecordingState::transcribing, true, {}, false, OverlayPalette::recording()},
        {"hover", RecordingState::idle, false, {}, true, OverlayPalette::idle()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EngineFixture env;
        OverlayPanelState panelState;
        NotchOverlayView view(env.rt.runtime(), panelState, notchedMetrics());
        panelState.setHovering(c.hovering);
        view.setEngineValues({c.state, {}, c.micReady});
        // The transcript arrives after the row is built, as it does live.
        if (!c.preview.isEmpty()) view.setEngineValues({c.state, c.preview, c.micReady});
        view.show();
        env.rt.time.advance(0.6);  // animations and fades settle
        const QImage image = renderAt2x(view);
        save(image, QString::fromLatin1(c.file));

        const QRectF body = view.bodyRect();
        const double c12 = view.shape().effectiveConcaveRadius(body);
        // Black body where the shape is: below the flare, right of the cat.
        const QColor inside = pixelAt(image, QPointF(body.right() - c12 - 6, body.top() + c12 + 1));
        EXPECT_EQ(inside.alpha(), 255);
        EXPECT_LT(inside.value(), 10);
        // Transparent outside the shape: beside the flare under the top edge, and below the body.
        EXPECT_LT(pixelAt(image, QPointF(body.left() + 0.5, body.top() + c12 + 2)).alpha(), 140);
        EXPECT_EQ(pixelAt(image, QPointF(2, view.height() - 2)).alpha(), 0);
        EXPECT_EQ(pixelAt(image, QPointF(2, 2)).alpha(), 0);
        // The cat's glow colour shows around the cat.
        const QRectF cat = view.catRect().translated(body.topLeft());
        EXPECT_TRUE(hasColourNear(image, cat.adjusted(-6, -6, 6, 6), c.glow));
    }
}

// Through the first frames of a hover, while the body grows on its spring, the wordmark never
// shows below the body and the media card never shows over the header row of the cat and the
// wordmark: the frame with a card has the same header as the frame without one.
TEST(OverlayRender, HoverPiecesStayInsideTheGrowingBody) {
    EngineFixture env;
    OverlayPanelState withState, withoutState;
    NotchOverlayView withCard(env.rt.runtime(), withState, externalMetrics());
    NotchOverlayView without(env.rt.runtime(), withoutState, externalMetrics());
    auto* card = new QWidget;  // a plain white card shows wherever it is drawn
    card->setAutoFillBackground(true);
    QPalette palette = card->palette();
    palette.setColor(QPalette::Window, Qt::white);
    card->setPalette(palette);
    withCard.setMediaCard(card);
    withCard.show();
    without.show();
    withState.setHovering(true);
    withoutState.setHovering(true);
    const double headerBottom = withCard.metrics().notchHeight + 26;  // where the card's top rests
    double elapsed = 0;
    for (int ms : {16, 33, 50, 66, 83, 100, 133}) {
        SCOPED_TRACE(ms);
        env.rt.time.advance(ms / 1000.0 - elapsed);
        elapsed = ms / 1000.0;
        ASSERT_TRUE(withCard.isAnimating());
        const QImage framed = renderAt2x(withCard);
        const QImage plain = renderAt2x(without);
        if (ms == 33 || ms == 66 || ms == 100) save(framed, QStringLiteral("hover-frame-%1ms").arg(ms));
        const QRectF body = withCard.bodyRect();
        int lightBelow = 0, headerDiffers = 0;
        for (int y = 0; y < framed.height(); ++y)
            for (int x = 0; x < framed.width(); ++x) {
                const double py = y / 2.0;
                // The shadow below the body is black: anything light there is a piece of the panel.
                if (py > body.bottom() + 1 && qRed(plain.pixel(x, y)) > 40) ++lightBelow;
                if (py < headerBottom && framed.pixel(x, y) != plain.pixel(x, y)) ++headerDiffers;
            }
        EXPECT_EQ(lightBelow, 0);
        EXPECT_EQ(headerDiffers, 0);
    }
}

// A repaint of a part of the panel (the status row's dot, 20 times a second) shows there exactly
// what a repaint of the whole panel shows: inside the body's black middle, at its rounded bottom
// corners, across the flared top corners and along the bottom edge.
TEST(OverlayRender, APartRepaintedAloneMatchesTheWholePicture) {
    EngineFixture env;
    OverlayPanelState panelState;
    NotchOverlayView view(env.rt.runtime(), panelState, notchedMetrics());
    view.setEngineValues({RecordingState::recording, {}, true});
    view.setEngineValues({RecordingState::recording, QStringLiteral("今天下午三点开会"), true});
    view.show();
    env.rt.time.advance(0.6);
    const QImage whole = renderAt2x(view);
    const QRectF body = view.bodyRect();
    const QRectF row = view.statusRowRect().translated(body.topLeft());
    const double r = view.shape().effectiveBottomRadius(body);
    const double c12 = view.shape().effectiveConcaveRadius(body);
    struct Part {
        const char* name;
        QRectF points;
    };
    const std::vector<Part> parts = {
        {"the dot", QRectF(row.left() - 8, row.top(), 30, 28)},
        {"the middle, down to the bottom edge", QRectF(body.center().x() - 20, body.top(), 40, body.height())},
        {"the bottom left corner", QRectF(body.left() + c12, body.bottom() - r, r, r)},
        {"the bottom right corner", QRectF(body.right() - c12 - r, body.bottom() - r, r, r)},
        {"the left flare", QRectF(body.left() - 4, body.top(), c12 + 8, c12 + 4)},
        {"just below the body", QRectF(body.center().x() - 20, body.bottom() - 1, 40, 4)},
    };
    for (const Part& part : parts) {
        SCOPED_TRACE(part.name);
        const QRect region = part.points.toAlignedRect().intersected(view.rect());
        QImage image(view.size() * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(Qt::transparent);
        view.render(&image, region.topLeft(), QRegion(region), QWidget::DrawChildren);
        const QImage alone = image.convertToFormat(QImage::Format_ARGB32);
        int differ = 0;
        for (int y = 0; y < region.height() * 2; ++y)
            for (int x = 0; x < region.width() * 2; ++x)
                if (alone.pixel(region.x() * 2 + x, region.y() * 2 + y) !=
                    whole.pixel(region.x() * 2 + x, region.y() * 2 + y))
                    ++differ;
        EXPECT_EQ(differ, 0);
    }
}
