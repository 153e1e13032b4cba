#include "overlay/OverlayEffects.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

namespace vocalynx {

double blurSigmaForRadius(double radius) { return radius * 0.5; }

namespace {

// One box pass of the given half-width along rows (horizontal) or columns.
void boxPass(uchar* data, int width, int height, qsizetype stride, int half, bool horizontal) {
    if (half <= 0) return;
    const int length = horizontal ? width : height;
    const int lines = horizontal ? height : width;
    const int window = 2 * half + 1;
    std::vector<uchar> line(static_cast<size_t>(length));
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> uchar& {
            return horizontal ? data[l * stride + i] : data[static_cast<qsizetype>(i) * stride + l];
        };
        for (int i = 0; i < length; ++i) line[static_cast<size_t>(i)] = at(i);
        int sum = 0;
        auto value = [&](int i) { return (i < 0 || i >= length) ? 0 : line[static_cast<size_t>(i)]; };
        for (int i = -half; i <= half; ++i) sum += value(i);
        for (int i = 0; i < length; ++i) {
            at(i) = static_cast<uchar>((sum + window / 2) / window);
            sum += value(i + half + 1) - value(i - half);
        }
    }
}

}  // namespace

void blurAlpha(QImage& alpha8, double sigma) {
    if (sigma <= 0.01 || alpha8.isNull()) return;
    // Box widths for three passes that together approximate the gaussian.
    const double ideal = std::sqrt(12 * sigma * sigma / 3 + 1);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0) --lower;
    const int upper = lower + 2;
    const double m = std::round((12 * sigma * sigma - 3 * lower * lower - 12 * lower - 9) / (-4.0 * lower - 4));
    for (int pass = 0; pass < 3; ++pass) {
        const int size = pass < m ? lower : upper;
        const int half = std::max(0, (size - 1) / 2);
        boxPass(alpha8.bits(), alpha8.width(), alpha8.height(), alpha8.bytesPerLine(), half, true);
        boxPass(alpha8.bits(), alpha8.width(), alpha8.height(), alpha8.bytesPerLine(), half, false);
    }
}

QImage transparentImage(QSizeF points, double pixelRatio) {
    QImage image(std::max(1, static_cast<int>(std::ceil(points.width() * pixelRatio))),
                 std::max(1, static_cast<int>(std::ceil(points.height() * pixelRatio))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(pixelRatio);
    image.fill(Qt::transparent);
    return image;
}

QImage shadowImage(const QImage& source, const QColor& color, double radius, QPointF offset) {
    const double ratio = source.devicePixelRatio();
    QImage alpha = source.convertToFormat(QImage::Format_Alpha8);
    alpha.setDevicePixelRatio(1);
    blurAlpha(alpha, blurSigmaForRadius(radius) * ratio);
    QImage out(source.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    const int dx = static_cast<int>(std::lround(offset.x() * ratio));
    const int dy = static_cast<int>(std::lround(offset.y() * ratio));
    const double a = color.alphaF();
    const int r = color.red(), g = color.green(), b = color.blue();
    for (int y = 0; y < out.height(); ++y) {
        const int sy = y - dy;
        if (sy < 0 || sy >= alpha.height()) continue;
        const uchar* src = alpha.constScanLine(sy);
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const int sx = x - dx;
            if (sx < 0 || sx >= alpha.width()) continue;
            const int k = static_cast<int>(std::lround(src[sx] * a));
            if (k == 0) continue;
            dst[x] = qRgba(r * k / 255, g * k / 255, b * k / 255, k);
        }
    }
    out.setDevicePixelRatio(ratio);
    return out;
}

QImage withShadow(const QImage& source, const QColor& color, double radius, QPointF offset) {
    QImage out = shadowImage(source, color, radius, offset);
    QPainter p(&out);
    p.drawImage(QPointF(0, 0), source);
    return out;
}

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(float(color.alphaF() * opacity));
    return color;
}

void strokeInside(QPainter& painter, const QRectF& rect, double cornerRadius, double lineWidth, const QBrush& brush) {
    const double half = lineWidth / 2;
    QPen pen(brush, lineWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.save();
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const double r = std::max(0.0, cornerRadius - half);
    painter.drawRoundedRect(rect.adjusted(half, half, -half, -half), r, r);
    painter.restore();
}

void paintRoundedShadow(QPainter& painter, const QRectF& rect, double cornerRadius, const QColor& color, double radius,
                        QPointF offset) {
    if (color.alpha() == 0) return;
    const double margin = std::ceil(radius * 2 + std::max(std::abs(offset.x()), std::abs(offset.y())) + 2);
    QImage mask = transparentImage(rect.size() + QSizeF(2 * margin, 2 * margin), painter.device()->devicePixelRatioF());
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawRoundedRect(QRectF(QPointF(margin, margin), rect.size()), cornerRadius, cornerRadius);
    }
    painter.drawImage(rect.topLeft() - QPointF(margin, margin), shadowImage(mask, color, radius, offset));
}

}  // namespace vocalynx
