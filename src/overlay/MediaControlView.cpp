#include "overlay/MediaControlView.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <cmath>

#include "overlay/OverlayEffects.h"
#include "overlay/OverlaySymbols.h"

namespace vocalynx {

namespace {

QColor white(double opacity) { return QColor::fromRgbF(1, 1, 1, float(opacity)); }
QColor black(double opacity) { return QColor::fromRgbF(0, 0, 0, float(opacity)); }
const QColor kClear = QColor::fromRgbF(0, 0, 0, 0);

// The ultra-thin material: without a blur of what lies behind the panel, a neutral translucent
// fill that the layer opacity scales.
const QColor kMaterial = QColor::fromRgbF(0.3f, 0.3f, 0.32f, 0.85f);

QColor toColor(const AccentColor& c) {
    return QColor::fromRgbF(float(c.red), float(c.green), float(c.blue), float(c.alpha));
}

// The accent colour when known, else white at 0.15.
QColor accentTint(const std::optional<AccentColor>& accent) { return accent ? toColor(*accent) : white(0.15); }

QColor mixColor(const QColor& a, const QColor& b, double t) {
    auto lerp = [t](float x, float y) { return float(x + (y - x) * t); };
    return QColor::fromRgbF(lerp(a.redF(), b.redF()), lerp(a.greenF(), b.greenF()), lerp(a.blueF(), b.blueF()),
                            lerp(a.alphaF(), b.alphaF()));
}

QFont roundedFont(double size, QFont::Weight weight) {
    QFont font(QStringLiteral("sans-serif"));
    font.setPixelSize(int(std::lround(size)));
    font.setWeight(weight);
    return font;
}

QLinearGradient threeStops(QPointF from, QPointF to, const QColor (&stops)[3]) {
    QLinearGradient gradient(from, to);
    gradient.setColorAt(0, stops[0]);
    gradient.setColorAt(0.5, stops[1]);
    gradient.setColorAt(1, stops[2]);
    return gradient;
}

// The text cut into at most maxLines lines of the width; the last shown line ends in an
// ellipsis when text was left over.
QStringList wrapLines(const QString& text, const QFont& font, double width, int maxLines) {
    QStringList lines;
    QTextLayout layout(text, font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int consumed = 0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        if (lines.size() == maxLines - 1) {
            const QString rest = text.mid(line.textStart());
            lines << QFontMetricsF(font).elidedText(rest, Qt::ElideRight, width);
            consumed = int(text.size());
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
        consumed = line.textStart() + line.textLength();
    }
    layout.endLayout();
    Q_UNUSED(consumed);
    return lines;
}

// One round transport button with no chrome; the whole circle is its hit area.
class CircleButton : public QAbstractButton {
public:
    CircleButton(double diameter, bool primary, QWidget* parent) : QAbstractButton(parent), diameter_(diameter),
                                                                    primary_(primary) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
    }
    std::function<OverlaySymbol()> symbol;
    std::function<QColor()> tint;
    double diameter() const { return diameter_; }
    // The widget is the circle grown by room for its shadows.
    static constexpr double kRoom = 16;
    QRectF circle() const { return QRectF(kRoom, kRoom, diameter_, diameter_); }

protected:
    bool hitButton(const QPoint& pos) const override {
        const QPointF d = QPointF(pos) - circle().center();
        return std::hypot(d.x(), d.y()) <= diameter_ / 2;
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF c = circle();
        const double r = diameter_ / 2;
        const QColor accent = tint ? tint() : white(0.15);
        if (primary_) {
            paintRoundedShadow(p, c, r, withOpacity(accent, 0.16), 12, QPointF(0, 6));
            paintRoundedShadow(p, c, r, black(0.22), 10, QPointF(0, 4));
        } else {
            paintRoundedShadow(p, c, r, black(0.18), 6, QPointF(0, 3));
        }
        p.setPen(Qt::NoPen);
        p.setBrush(withOpacity(kMaterial, primary_ ? 0.68 : 0.55));
        p.drawEllipse(c);
        if (primary_) {
            p.setBrush(withOpacity(accent, 0.26));
            p.drawEllipse(c);
            QLinearGradient shine(c.topLeft(), c.bottomRight());
            shine.setColorAt(0, white(0.2));
            shine.setColorAt(1, kClear);
            p.setBrush(shine);
            p.drawEllipse(c);
        } else {
            p.setBrush(white(0.06));
            p.drawEllipse(c);
        }
        strokeInside(p, c, r, primary_ ? 0.8 : 0.7, white(primary_ ? 0.18 : 0.12));
        const double size = primary_ ? 15 : 12;
        const QColor color = white(primary_ ? 0.98 : 0.84);
        drawOverlaySymbol(p, symbol ? symbol() : OverlaySymbol::play, c.center(), size * 0.8, color);
    }

private:
    double diameter_;
    bool primary_;
};

constexpr double kSmallButton = 30;
constexpr double kPlayButton = 38;
constexpr double kButtonSpacing = 12;
constexpr double kButtonsWidth = kSmallButton + kButtonSpacing + kPlayButton + kButtonSpacing + kSmallButton;

}  // namespace

MediaControlView::MediaControlView(MediaRemoteService& media, MainQueue& main, Clock& clock, double cardCornerRadius,
                                   QWidget* parent)
    : OverlayItem(kBleed, parent),
      media_(media),
      clock_(clock),
      radius_(cardCornerRadius),
      from_(glassFor(media.artworkAccentColor())),
      to_(from_),
      ticker_(main, [this] { onFrame(); }) {
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
    const double diameters[3] = {kSmallButton, kPlayButton, kSmallButton};
    const MediaCommand commands[3] = {MediaCommand::previous, MediaCommand::toggle, MediaCommand::next};
    for (int i = 0; i < 3; ++i) {
        auto* button = new CircleButton(diameters[i], i == 1, this);
        const MediaCommand command = commands[i];
        connect(button, &QAbstractButton::clicked, this, [this, command] { media_.sendCommand(command); });
        buttons_[i] = button;
    }
    static_cast<CircleButton*>(buttons_[0])->symbol = [] { return OverlaySymbol::backward; };
    static_cast<CircleButton*>(buttons_[1])->symbol = [this] {
        return media_.isPlaying() ? OverlaySymbol::pause : OverlaySymbol::play;
    };
    static_cast<CircleButton*>(buttons_[2])->symbol = [] { return OverlaySymbol::forward; };
    static_cast<CircleButton*>(buttons_[1])->tint = [this] { return accentTint(media_.artworkAccentColor()); };

    connect(&media_, &MediaRemoteService::changed, this, [this] {
        layoutButtons();
        update();
        for (auto* b : buttons_) b->update();
    });
    connect(&media_, &MediaRemoteService::artworkAccentColorChanged, this, [this] { accentChanged(); });
    layoutButtons();
}

MediaControlView::~MediaControlView() = default;

MediaControlView::Content MediaControlView::contentFor(const QString& trackTitle,
                                                       const std::optional<QString>& automationWarning) {
    if (!trackTitle.isEmpty()) return Content::nowPlaying;
    if (automationWarning) return Content::permissionHint;
    return Content::nothingPlaying;
}

MediaControlView::Content MediaControlView::content() const {
    return contentFor(media_.trackTitle(), media_.automationWarning());
}

MediaControlView::Glass MediaControlView::glassFor(const std::optional<AccentColor>& accent) {
    const QColor tint = accentTint(accent);
    if (accent) {
        return {black(0.58),
                withOpacity(tint, 0.18),
                0.32,
                {withOpacity(tint, 0.22), withOpacity(tint, 0.06), kClear},
                {white(0.28), withOpacity(tint, 0.2), white(0.08)},
                withOpacity(tint, 0.42 * 0.3)};
    }
    return {black(0.72),
            withOpacity(tint, 0),
            0.55,
            {white(0.08), white(0.02), kClear},
            {white(0.22), white(0.08), white(0.04)},
            kClear};
}

MediaControlView::Glass MediaControlView::mix(const Glass& a, const Glass& b, double t) {
    Glass g;
    g.base = mixColor(a.base, b.base, t);
    g.tint = mixColor(a.tint, b.tint, t);
    g.materialOpacity = a.materialOpacity + (b.materialOpacity - a.materialOpacity) * t;
    for (int i = 0; i < 3; ++i) {
        g.sheen[i] = mixColor(a.sheen[i], b.sheen[i], t);
        g.border[i] = mixColor(a.border[i], b.border[i], t);
    }
    g.accentShadow = mixColor(a.accentShadow, b.accentShadow, t);
    return g;
}

MediaControlView::Glass MediaControlView::presentedGlass() const {
    if (!ticker_.isRunning()) return to_;
    const double elapsed = Duration(clock_.now() - accentStart_).count();
    const double t = std::clamp(elapsed / kAccentAnimationSeconds, 0.0, 1.0);
    return mix(from_, to_, CubicBezier::easeInOut().valueAt(t));
}

void MediaControlView::accentChanged() {
    from_ = presentedGlass();
    to_ = glassFor(media_.artworkAccentColor());
    accentStart_ = clock_.now();
    ticker_.start();
    update();
}

void MediaControlView::finishAnimations() {
    ticker_.stop();
    from_ = to_;
    update();
}

void MediaControlView::onFrame() {
    if (Duration(clock_.now() - accentStart_).count() >= kAccentAnimationSeconds) {
        ticker_.stop();
        from_ = to_;
    }
    update();
}

void MediaControlView::resizeEvent(QResizeEvent*) { layoutButtons(); }

void MediaControlView::layoutButtons() {
    const QRectF card(contentOrigin(), contentRect().size());
    const bool shown = content() == Content::nowPlaying;
    double x = card.right() - 12 - kButtonsWidth;
    for (auto* b : buttons_) {
        auto* button = static_cast<CircleButton*>(b);
        const double d = button->diameter();
        const QRectF circle(x, card.center().y() - d / 2, d, d);
        const double room = CircleButton::kRoom;
        button->setGeometry(QRectF(circle.adjusted(-room, -room, room, room)).toAlignedRect());
        button->setVisible(shown);
        x += d + kButtonSpacing;
    }
}

void MediaControlView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF card(contentOrigin(), contentRect().size());
    if (card.isEmpty()) return;
    paintBackground(painter, card);
    painter.save();
    QPainterPath clip;
    clip.addRoundedRect(card, radius_, radius_);
    painter.setClipPath(clip);
    switch (content()) {
        case Content::permissionHint: paintHint(painter, card); break;
        case Content::nowPlaying: paintNowPlaying(painter, card); break;
        case Content::nothingPlaying: paintNothingPlaying(painter, card); break;
    }
    painter.restore();
}

void MediaControlView::paintBackground(QPainter& painter, const QRectF& card) {
    const Glass g = presentedGlass();
    // Shadows under the card: the black one, and the accent's coloured one.
    paintRoundedShadow(painter, card, radius_, black(0.32), 14, QPointF(0, 8));
    paintRoundedShadow(painter, card, radius_, g.accentShadow, 20, QPointF(0, 8));

    // The five layers, composited as one group inside the rounded card.
    const double ratio = painter.device()->devicePixelRatioF();
    QImage group = transparentImage(card.size(), ratio);
    {
        QPainter p(&group);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r(QPointF(0, 0), card.size());
        QPainterPath shape;
        shape.addRoundedRect(r, radius_, radius_);
        p.setClipPath(shape);
        p.fillPath(shape, g.base);
        p.fillPath(shape, g.tint);
        p.fillPath(shape, withOpacity(kMaterial, g.materialOpacity));
        p.fillPath(shape, threeStops(r.topLeft(), r.bottomRight(), g.sheen));
        QPainterPath inset;
        const QRectF in = r.adjusted(1, 1, -1, -1);
        inset.addRoundedRect(in, std::max(0.0, radius_ - 1), std::max(0.0, radius_ - 1));
        const QColor top[3] = {white(0.14), white(0.02), kClear};
        p.fillPath(inset, threeStops(in.topLeft(), in.bottomLeft(), top));
    }
    painter.drawImage(card.topLeft(), group);
    strokeInside(painter, card, radius_, 0.8, threeStops(card.topLeft(), card.bottomRight(), g.border));
}

void MediaControlView::paintHint(QPainter& painter, const QRectF& card) {
    const QRectF inner = card.adjusted(12, 0, -12, 0);
    const QFont titleFont = roundedFont(12, QFont::DemiBold);
    const QFont bodyFont = roundedFont(10, QFont::Normal);
    const QString warning = media_.automationWarning().value_or(QString());
    const QStringList lines = wrapLines(warning, bodyFont, inner.width(), 3);
    const double titleHeight = QFontMetricsF(titleFont).height();
    const double lineHeight = QFontMetricsF(bodyFont).height();
    const double total = 14 + 6 + titleHeight + 6 + lineHeight * lines.size();
    double y = card.center().y() - total / 2;
    drawOverlaySymbol(painter, OverlaySymbol::warningTriangle, QPointF(inner.center().x(), y + 7), 14,
                      QColor::fromRgbF(0.957f, 0.749f, 0.459f));
    y += 14 + 6;
    painter.setFont(titleFont);
    painter.setPen(white(0.9));
    painter.drawText(QRectF(inner.left(), y, inner.width(), titleHeight), Qt::AlignCenter, QStringLiteral("播放器没有响应"));
    y += titleHeight + 6;
    painter.setFont(bodyFont);
    painter.setPen(white(0.58));
    for (const QString& line : lines) {
        painter.drawText(QRectF(inner.left(), y, inner.width(), lineHeight), Qt::AlignCenter, line);
        y += lineHeight;
    }
}

void MediaControlView::paintNowPlaying(QPainter& painter, const QRectF& card) {
    // Artwork, 46 points square at the leading edge.
    const QRectF art(card.left() + 12, card.center().y() - 23, 46, 46);
    paintRoundedShadow(painter, art, 10, black(0.28), 8, QPointF(0, 4));
    painter.save();
    QPainterPath artShape;
    artShape.addRoundedRect(art, 10, 10);
    painter.setClipPath(artShape, Qt::IntersectClip);
    if (const auto& artwork = media_.artwork(); artwork && !artwork->isEmpty()) {
        const QImage image(reinterpret_cast<const uchar*>(artwork->pixels.constData()), artwork->width, artwork->height,
                           artwork->width * 4, QImage::Format_RGBA8888);
        // Fill the square: scale to cover it and crop what overflows, keeping the aspect.
        const double scale = std::max(art.width() / image.width(), art.height() / image.height());
        const QSizeF drawn(image.width() * scale, image.height() * scale);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(art.center() - QPointF(drawn.width() / 2, drawn.height() / 2), drawn), image);
    } else {
        painter.fillRect(art, white(0.08));
        drawOverlaySymbol(painter, OverlaySymbol::musicNote, art.center(), 16, white(0.28));
    }
    painter.restore();
    strokeInside(painter, art, 10, 0.7, white(0.18));

    // Title and artist between the artwork and the buttons.
    const double left = art.right() + 12;
    const double right = card.right() - 12 - kButtonsWidth - 12;
    const QFont titleFont = roundedFont(12, QFont::DemiBold);
    const QFont artistFont = roundedFont(10, QFont::Normal);
    const double titleHeight = QFontMetricsF(titleFont).height();
    const double artistHeight = QFontMetricsF(artistFont).height();
    const double width = std::max(0.0, right - left);
    double y = card.center().y() - (titleHeight + 2 + artistHeight) / 2;
    painter.setFont(titleFont);
    painter.setPen(white(0.96));
    painter.drawText(QRectF(left, y, width, titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(titleFont).elidedText(media_.trackTitle(), Qt::ElideRight, width));
    y += titleHeight + 2;
    painter.setFont(artistFont);
    painter.setPen(white(0.62));
    painter.drawText(QRectF(left, y, width, artistHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(artistFont).elidedText(media_.artist(), Qt::ElideRight, width));
}

void MediaControlView::paintNothingPlaying(QPainter& painter, const QRectF& card) {
    const QFont font = roundedFont(12, QFont::Medium);
    const QString text = QStringLiteral("未在播放");
    const double textWidth = QFontMetricsF(font).horizontalAdvance(text);
    const double total = 14 + 8 + textWidth;
    const double x = card.center().x() - total / 2;
    drawOverlaySymbol(painter, OverlaySymbol::musicNote, QPointF(x + 7, card.center().y()), 14, white(0.3));
    painter.setFont(font);
    painter.setPen(white(0.34));
    painter.drawText(QRectF(x + 22, card.top(), textWidth + 1, card.height()), Qt::AlignLeft | Qt::AlignVCenter, text);
}

}  // namespace vocalynx
