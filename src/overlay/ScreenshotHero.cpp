#include "overlay/ScreenshotHero.h"

#include "overlay/OverlayEffects.h"
#include "overlay/ScreenshotMode.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace vocalynx {

namespace {

QPainterPath roundedRect(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
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

}  // namespace

namespace hero {

QString typedSentence() { return ScreenshotMode::stagedEngine(ScreenshotMode::State::recording).previewText; }

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
    // Each beam is one colour: its shape is blurred as a mask at a quarter of the resolution
    // (the beams are soft anyway) and drawn scaled up.
    painter.save();
    painter.setClipRect(rect);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    constexpr double kScale = 0.25;
    for (const Beam& beam : beams) {
        QImage mask = transparentImage(rect.size() * kScale, 1.0);
        {
            QPainter p(&mask);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(kScale, kScale);
            p.translate(QPointF(w / 2 + w * beam.d, h / 2 + h * -0.28));
            p.rotate(beam.a + 38);
            const QSizeF size(w * beam.f, h * 1.65);
            p.fillRect(QRectF(QPointF(-size.width() / 2, -size.height() / 2), size), Qt::black);
        }
        painter.drawImage(rect, shadowImage(mask, beam.fill, 18 * kScale, QPointF(0, 0)));
    }
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
    paintRoundedShadow(painter, frame, 24, QColor::fromRgbF(0, 0, 0, 0.35f), 36, QPointF(0, 22));

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
                     Qt::AlignLeft | Qt::AlignVCenter, typedSentence());
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
