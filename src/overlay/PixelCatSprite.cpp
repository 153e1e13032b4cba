#include "overlay/PixelCatSprite.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "overlay/OverlayEffects.h"
#include "overlay/OverlayPalette.h"

namespace vocalynx {

namespace {

QStringList names(const QString& prefix, int count) {
    QStringList out;
    for (int i = 0; i < count; ++i) out << prefix + QString::number(i);
    return out;
}

// Brightness 0.62 (added to every channel) then contrast 1.1 about the middle grey.
QImage brightened(const QImage& source) {
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    auto adjust = [](int channel) {
        double c = std::min(1.0, channel / 255.0 + 0.62);
        c = (c - 0.5) * 1.1 + 0.5;
        return static_cast<int>(std::lround(std::clamp(c, 0.0, 1.0) * 255));
    };
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            if (qAlpha(p) == 0) continue;
            line[x] = qRgba(adjust(qRed(p)), adjust(qGreen(p)), adjust(qBlue(p)), qAlpha(p));
        }
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

PixelCatSprite::PixelCatSprite(PixelCatMood mood, MainQueue& main, QWidget* parent)
    : OverlayItem(kBleed, parent),
      mood_(mood),
      interval_(mood == PixelCatMood::recording ? 0.12 : 0.22),
      ticker_(main, [this] { advanceFrame(); }, interval_, TickTiming::coarse) {
    placeContent(QRectF(kBleed, kBleed, 20, 20));
}

const std::map<PixelCatMood, QStringList>& PixelCatSprite::frames() {
    static const std::map<PixelCatMood, QStringList> table = {
        {PixelCatMood::idle, names(QStringLiteral("CatIdle"), 4)},
        {PixelCatMood::connecting, names(QStringLiteral("CatLoading"), 4)},
        {PixelCatMood::recording, names(QStringLiteral("CatRecording"), 8)},
    };
    return table;
}

QColor PixelCatSprite::glowColor(PixelCatMood mood) {
    switch (mood) {
        case PixelCatMood::idle: return OverlayPalette::idle();
        case PixelCatMood::connecting: return OverlayPalette::connecting();
        case PixelCatMood::recording: return OverlayPalette::recording();
    }
    return OverlayPalette::idle();
}

void PixelCatSprite::setMood(PixelCatMood mood) {
    if (mood == mood_) return;
    mood_ = mood;
    update();
}

std::optional<QString> PixelCatSprite::currentFrameName() const {
    auto it = frames().find(mood_);
    if (it == frames().end() || it->second.isEmpty()) return std::nullopt;
    return it->second.at(frame_ % it->second.size());
}

void PixelCatSprite::advanceFrame() {
    auto it = frames().find(mood_);
    if (it == frames().end() || it->second.isEmpty()) return;
    frame_ = (frame_ + 1) % static_cast<int>(it->second.size());
    update();
}

QImage PixelCatSprite::render(double side, double pixelRatio) const {
    const std::optional<QString> name = currentFrameName();
    // Compared as numbers, not formatted: this runs on every frame.
    const RenderKey key{name.value_or(QString()), static_cast<int>(mood_), std::llround(side * 1000),
                        std::llround(pixelRatio * 1000)};
    auto cached = cache_.find(key);
    if (cached != cache_.end()) return cached->second;

    const QSizeF canvas(side + 2 * kBleed, side + 2 * kBleed);
    const QRectF square(kBleed, kBleed, side, side);
    const bool recording = mood_ == PixelCatMood::recording;
    const QColor glow = glowColor(mood_);

    // Glow: a circle the size of the sprite, blurred, then scaled about its centre.
    const double glowOpacity = recording ? 0.22 : 0.14;
    const double glowBlur = recording ? 7 : 5;
    const double glowScale = recording ? 1.28 : 1.18;
    QImage glowLayer = transparentImage(canvas, pixelRatio);
    {
        QPainter p(&glowLayer);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        const double d = side * glowScale;
        p.drawEllipse(QRectF(square.center().x() - d / 2, square.center().y() - d / 2, d, d));
    }
    glowLayer = shadowImage(glowLayer, withOpacity(glow, glowOpacity), glowBlur * glowScale, QPointF(0, 0));

    // Cat: nearest-neighbour, fitted into the square, then its three shadows.
    QImage catLayer = transparentImage(canvas, pixelRatio);
    const QImage art = name ? overlayAsset(*name) : QImage();
    if (!art.isNull()) {
        const QImage lit = brightened(art);
        const double scale = std::min(side / lit.width(), side / lit.height());
        const QSizeF size(lit.width() * scale, lit.height() * scale);
        const QRectF target(square.center().x() - size.width() / 2, square.center().y() - size.height() / 2,
                            size.width(), size.height());
        QPainter p(&catLayer);
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.drawImage(target, lit);
    }
    catLayer = withShadow(catLayer, withOpacity(Qt::black, 0.38), 3.5, QPointF(0, 3));
    catLayer = withShadow(catLayer, withOpacity(glow, 0.26), 4.5, QPointF(-1, -1));
    catLayer = withShadow(catLayer, withOpacity(Qt::white, 0.16), 1.5, QPointF(-1, -1));

    QImage out = glowLayer;
    {
        QPainter p(&out);
        p.drawImage(QPointF(0, 0), catLayer);
    }
    cache_.emplace(key, out);
    return out;
}

void PixelCatSprite::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const double ratio = p.device()->devicePixelRatioF();
    p.drawImage(contentOrigin() - QPointF(kBleed, kBleed), render(side(), ratio));
}

void PixelCatSprite::showEvent(QShowEvent*) { ticker_.start(); }

void PixelCatSprite::hideEvent(QHideEvent*) { ticker_.stop(); }

}  // namespace vocalynx
