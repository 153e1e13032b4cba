#include "overlay/ScreenshotHero.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <vector>

namespace vocalynx {

namespace {

// A soft layer: what paint() draws, blurred by a Gaussian of the given radius (in points).
// Drawn at a reduced resolution, since everything blurred here is soft anyway; three box blurs
// in each direction approximate the Gaussian.
void boxBlurPass(std::vector<float>& data, int width, int height, int channels, int radius, bool horizontal) {
    if (radius <= 0) return;
    const int length = horizontal ? width : height;
    const int lines = horizontal ? height : width;
    std::vector<float> line(static_cast<size_t>(length) * channels);
    const float scale = 1.0f / float(2 * radius + 1);
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> float* {
            const int x = horizontal ? i : l;
            const int y = horizontal ? l : i;
            return &data[(static_cast<size_t>(y) * width + x) * channels];
        };
        for (int c = 0; c < channels; ++c) {
            float sum = 0;
            for (int i = -radius; i <= radius; ++i) sum += at(std::clamp(i, 0, length - 1))[c];
            for (int i = 0; i < length; ++i) {
                line[static_cast<size_t>(i) * channels + c] = sum * scale;
                sum += at(std::min(i + radius + 1, length - 1))[c] - at(std::max(i - radius, 0))[c];
            }
        }
        for (int i = 0; i < length; ++i)
            for (int c = 0; c < channels; ++c) at(i)[c] = line[static_cast<size_t>(i) * channels + c];
    }
}

void paintBlurred(QPainter& painter, const QRectF& area, double blurRadius,
                  const std::function<void(QPainter&)>& paint) {
    constexpr double kDownscale = 0.25;
    const QRectF padded = area.adjusted(-3 * blurRadius, -3 * blurRadius, 3 * blurRadius, 3 * blurRadius);
    const int width = std::max(1, int(std::ceil(padded.width() * kDownscale)));
    const int height = std::max(1, int(std::ceil(padded.height() * kDownscale)));
    QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(kDownscale, kDownscale);
        p.translate(-padded.topLeft());
        paint(p);
    }
    std::vector<float> data(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = 0; x < width * 4; ++x) data[static_cast<size_t>(y) * width * 4 + x] = row[x];
    }
    // Three box passes of this half-width give a Gaussian whose deviation is the blur radius.
    const double sigma = blurRadius * kDownscale;
    const int box = std::max(0, int(std::lround((std::sqrt(4.0 * sigma * sigma + 1.0) - 1.0) / 2.0)));
    for (int pass = 0; pass < 3; ++pass) {
        boxBlurPass(data, width, height, 4, box, true);
        boxBlurPass(data, width, height, 4, box, false);
    }
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < width * 4; ++x)
            row[x] = uchar(std::clamp(std::lround(data[static_cast<size_t>(y) * width * 4 + x]), 0L, 255L));
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(padded.topLeft(), QSizeF(width / kDownscale, height / kDownscale)), image);
    painter.restore();
}

QPainterPath roundedRect(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

void paintShadow(QPainter& painter, const QPainterPath& shape, const QColor& color, double radius, QPointF offset) {
    paintBlurred(painter, shape.boundingRect().translated(offset), radius, [&](QPainter& p) {
        p.fillPath(shape.translated(offset), color);
    });
}

// A border stroked inside the edge of a rounded rectangle (inset by half the line width).
void strokeInside(QPainter& painter, const QRectF& rect, double radius, double width, const QBrush& brush) {
    const double half = width / 2;
    QPen pen(brush, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.save();
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(half, half, -half, -half), radius - half, radius - half);
    painter.restore();
}

QFont systemFont(double size, QFont::Weight weight, bool monospaced = false) {
    QFont font(monospaced ? QStringLiteral("monospace") : QStringLiteral("sans-serif"));
    if (monospaced) font.setStyleHint(QFont::Monospace);
    font.setPixelSize(int(std::lround(size)));
    font.setWeight(weight);
    return font;
}

QLinearGradient evenGradient(QPointF from, QPointF to, std::initializer_list<QColor> colors) {
    QLinearGradient gradient(from, to);
    const int n = int(colors.size());
    int i = 0;
    for (const QColor& c : colors) gradient.setColorAt(n == 1 ? 0 : double(i++) / (n - 1), c);
    return gradient;
}

const QString kTypedSentence = QStringLiteral("把这段想法整理成发布说明，语气轻松一点。");

}  // namespace

namespace hero {

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(float(color.alphaF() * opacity));
    return color;
}

void paintBackdrop(QPainter& painter, const QRectF& rect) {
    const double w = rect.width(), h = rect.height();
    painter.fillRect(rect, evenGradient(rect.topLeft(), rect.bottomRight(),
                                        {QColor::fromRgbF(0.06f, 0.06f, 0.08f), QColor::fromRgbF(0.04f, 0.04f, 0.06f),
                                         QColor::fromRgbF(0.03f, 0.03f, 0.04f), QColor::fromRgbF(0.02f, 0.02f, 0.03f)}));
    struct Beam {
        QColor fill;
        double f, a, d;
    };
    const Beam beams[] = {{withOpacity(kWarmOrange, 0.06), 0.24, 0, -0.18},
                          {withOpacity(kWarmOrange, 0.04), 0.25, 2, 0.28},
                          {withOpacity(kPaleGold, 0.03), 0.22, -4, 0.62},
                          {QColor::fromRgbF(0.12f, 0.12f, 0.16f, 0.4f), 0.3, 0, 0.82}};
    painter.save();
    painter.setClipRect(rect);
    paintBlurred(painter, rect, 18, [&](QPainter& p) {
        for (const Beam& beam : beams) {
            p.save();
            p.translate(rect.center() + QPointF(w * beam.d, h * -0.28));
            p.rotate(beam.a + 38);
            const QSizeF size(w * beam.f, h * 1.65);
            p.fillRect(QRectF(QPointF(-size.width() / 2, -size.height() / 2), size), beam.fill);
            p.restore();
        }
    });
    painter.restore();
    painter.fillRect(rect, evenGradient(rect.topLeft(), rect.bottomLeft(),
                                        {QColor::fromRgbF(0, 0, 0, 0.05f), QColor::fromRgbF(0, 0, 0, 0.16f),
                                         QColor::fromRgbF(0, 0, 0, 0.44f)}));
}

void paintMenuBar(QPainter& painter, const QRectF& rect) {
    const QRectF bar(rect.left(), rect.top(), rect.width(), kMenuBarHeight);
    painter.fillRect(bar, QColor::fromRgbF(0, 0, 0, 0.32f));
    const QRectF inner = bar.adjusted(36, 0, -36, 0);
    painter.save();
    painter.setPen(QColor::fromRgbF(1, 1, 1, 0.72f));
    painter.setFont(systemFont(14, QFont::DemiBold));
    painter.drawText(inner, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Vocalynx"));
    painter.setFont(systemFont(13, QFont::Medium));
    painter.drawText(inner, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Mon 11:28 AM"));
    painter.restore();
}

void paintTerminalWindow(QPainter& painter, const QRectF& rect) {
    const QRectF frame(rect.topLeft(), kTerminalSize);
    const QPainterPath shape = roundedRect(frame, 24);
    paintShadow(painter, shape, QColor::fromRgbF(0, 0, 0, 0.35f), 36, QPointF(0, 22));

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipPath(shape);
    painter.fillRect(frame, withOpacity(kWindowFill, 0.88));

    // Title bar: three lights and the title.
    const QRectF titleBar(frame.left(), frame.top(), frame.width(), 54);
    painter.fillRect(titleBar, QColor::fromRgbF(1, 1, 1, 0.04f));
    const QColor lights[] = {QColor::fromRgbF(1.0f, 0.37f, 0.34f), QColor::fromRgbF(1.0f, 0.74f, 0.18f),
                             QColor::fromRgbF(0.16f, 0.78f, 0.25f)};
    double x = titleBar.left() + 22;
    const double cy = titleBar.center().y();
    painter.setPen(Qt::NoPen);
    for (const QColor& c : lights) {
        painter.setBrush(c);
        painter.drawEllipse(QRectF(x, cy - 6.5, 13, 13));
        x += 13 + 10;
    }
    painter.setFont(systemFont(16, QFont::Medium, true));
    painter.setPen(QColor::fromRgbF(1, 1, 1, 0.48f));
    painter.drawText(QRectF(x + 6, titleBar.top(), titleBar.right() - 22 - x - 6, titleBar.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("claude — vocalynx"));

    // Body lines.
    enum Style { dim, body, bright, accent, prompt };
    struct Line {
        QString text;
        Style style;
    };
    const Line lines[] = {
        {QStringLiteral("╭─────────────────────────────────────────────╮"), dim},
        {QStringLiteral("│  Claude Code  v1.0.26        /help for help  │"), bright},
        {QStringLiteral("╰─────────────────────────────────────────────╯"), dim},
        {QString(), dim},
        {QStringLiteral("把这段想法整理成发布说明，语气轻松一点"), prompt},
        {QString(), dim},
        {QStringLiteral("  ● Reading CHANGELOG.md…"), accent},
        {QStringLiteral("  ● Drafting release notes with casual tone"), accent},
        {QString(), dim},
        {QStringLiteral("  I'll write the release notes based on the recent"), body},
        {QStringLiteral("  commits. Here's a draft:"), body},
    };
    const QFont regular = systemFont(18, QFont::Normal, true);
    const QFont semibold = systemFont(18, QFont::DemiBold, true);
    const QFont medium = systemFont(18, QFont::Medium, true);
    const double lineHeight = QFontMetricsF(regular).height();
    const QRectF bodyRect = QRectF(frame.left(), titleBar.bottom(), frame.width(), frame.bottom() - titleBar.bottom())
                                .adjusted(28, 28, -28, -28);
    double y = bodyRect.top();
    for (const Line& line : lines) {
        const QRectF row(bodyRect.left(), y, bodyRect.width(), lineHeight);
        switch (line.style) {
            case dim: painter.setFont(regular); painter.setPen(QColor::fromRgbF(1, 1, 1, 0.3f)); break;
            case body: painter.setFont(regular); painter.setPen(QColor::fromRgbF(1, 1, 1, 0.72f)); break;
            case bright: painter.setFont(semibold); painter.setPen(QColor::fromRgbF(1, 1, 1, 0.92f)); break;
            case accent: painter.setFont(regular); painter.setPen(withOpacity(kWarmOrange, 0.85)); break;
            case prompt: {
                painter.setFont(medium);
                painter.setPen(kWarmOrange);
                const QString marker = QStringLiteral("> ");
                painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, marker);
                const double advance = QFontMetricsF(medium).horizontalAdvance(marker);
                painter.setFont(regular);
                painter.setPen(QColor::fromRgbF(1, 1, 1, 0.88f));
                painter.drawText(row.adjusted(advance, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                                 line.text);
                y += lineHeight + 6;
                continue;
            }
        }
        if (!line.text.isEmpty())
            painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line.text);
        y += lineHeight + 6;
    }
    painter.restore();

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    strokeInside(painter, frame, 24, 1, QColor::fromRgbF(1, 1, 1, 0.14f));
    painter.restore();
}

namespace {
QFont typedCardLabelFont() {
    QFont font = systemFont(13, QFont::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.6);
    return font;
}
}  // namespace

double typedCardHeight() {
    return 22 + QFontMetricsF(typedCardLabelFont()).height() + 10 + QFontMetricsF(systemFont(22, QFont::Medium)).height() +
           22;
}

void paintTypedCard(QPainter& painter, const QRectF& rect) {
    const QRectF frame(rect.topLeft(), QSizeF(kTypedCardWidth, typedCardHeight()));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = roundedRect(frame, 22);
    painter.fillPath(shape, withOpacity(kWindowFill, 0.82));
    const QRectF inner = frame.adjusted(28, 22, -28, -22);
    const QFont label = typedCardLabelFont();
    const double labelHeight = QFontMetricsF(label).height();
    painter.setFont(label);
    painter.setPen(withOpacity(kWarmOrange, 0.78));
    painter.drawText(QRectF(inner.left(), inner.top(), inner.width(), labelHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("TYPED INTO CURRENT CURSOR"));
    painter.setFont(systemFont(22, QFont::Medium));
    painter.setPen(QColor::fromRgbF(1, 1, 1, 0.9f));
    painter.drawText(QRectF(inner.left(), inner.top() + labelHeight + 10, inner.width(), inner.bottom() - inner.top() - labelHeight - 10),
                     Qt::AlignLeft | Qt::AlignVCenter, kTypedSentence);
    strokeInside(painter, frame, 22, 1, QColor::fromRgbF(1, 1, 1, 0.12f));
    painter.restore();
}

}  // namespace hero

ScreenshotBackdropView::ScreenshotBackdropView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ScreenshotBackdropView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    hero::paintBackdrop(painter, rect());
}

ScreenshotHeroExportView::ScreenshotHeroExportView(QWidget* overlay, QWidget* parent)
    : QWidget(parent), overlay_(overlay) {
    setFixedSize(kSize);
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (overlay_) {
        overlay_->setParent(this);
        overlay_->raise();
    }
    placeOverlay();
}

void ScreenshotHeroExportView::placeOverlay() {
    if (!overlay_) return;
    overlay_->move((width() - overlay_->width()) / 2, 0);
}

void ScreenshotHeroExportView::resizeEvent(QResizeEvent*) { placeOverlay(); }

void ScreenshotHeroExportView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF frame(QPointF(0, 0), QSizeF(kSize));
    hero::paintBackdrop(painter, frame);
    hero::paintMenuBar(painter, frame);
    const double centreX = frame.width() / 2;
    hero::paintTerminalWindow(painter, QRectF(QPointF(centreX - hero::kTerminalSize.width() / 2 - 270, 390), hero::kTerminalSize));
    hero::paintTypedCard(painter, QRectF(QPointF(centreX - hero::kTypedCardWidth / 2 + 170, 850),
                                         QSizeF(hero::kTypedCardWidth, hero::typedCardHeight())));
}

QImage ScreenshotHeroExportView::render(double scale) {
    QImage image(QSize(int(std::lround(width() * scale)), int(std::lround(height() * scale))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::black);
    QWidget::render(&image);
    return image;
}

}  // namespace vocalynx
