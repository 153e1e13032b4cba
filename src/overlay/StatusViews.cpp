#include "overlay/StatusViews.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QStaticText>
#include <QTextBoundaryFinder>
#include <cmath>

#include "overlay/OverlayEffects.h"
#include "overlay/OverlayPalette.h"
#include "platform/Clock.h"

namespace vocalynx {

namespace {

double secondsSince(const Clock& clock, MonoTime since) { return secondsBetween(since, clock.now()); }

constexpr double kTitleHeight = 16;
// A word's fade in or out takes 0.15 s: five frames of 30 a second carry it smoothly, and each
// costs a repaint of the whole row.
constexpr double kFadeFrameInterval = 1.0 / 30.0;
constexpr double kTitleBleed = 10;

}  // namespace

QFont overlayFont(double pointSize, int weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(static_cast<int>(std::lround(pointSize)));
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// ---- title ----

VocalynxTitleView::VocalynxTitleView(QString assetName, QWidget* parent)
    : OverlayItem(kTitleBleed, parent), assetName_(std::move(assetName)) {
    placeContent(QRectF(QPointF(kTitleBleed, kTitleBleed), contentSize()));
}

bool VocalynxTitleView::usesFallback() const { return overlayAsset(assetName_).isNull(); }

namespace {

QFont fallbackTitleFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(11);
    font.setWeight(QFont::Black);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.4);
    return font;
}

const QString kTitleWord = QStringLiteral("Vocalynx");

}  // namespace

QSizeF VocalynxTitleView::contentSize() const {
    const QImage image = overlayAsset(assetName_);
    if (!image.isNull()) return QSizeF(kTitleHeight * image.width() / image.height(), kTitleHeight);
    const QFontMetricsF metrics(fallbackTitleFont());
    return QSizeF(std::ceil(metrics.horizontalAdvance(kTitleWord)), std::ceil(metrics.height()));
}

void VocalynxTitleView::setOpacity(double opacity) {
    if (opacity == opacity_) return;
    opacity_ = opacity;
    update();
}

QImage VocalynxTitleView::render(double ratio) const {
    const int key = static_cast<int>(std::lround(ratio * 1000));
    auto cached = cache_.constFind(key);
    if (cached != cache_.constEnd()) return *cached;

    const QSizeF size = contentSize();
    const QSizeF canvas(size.width() + 2 * kTitleBleed, size.height() + 2 * kTitleBleed);
    const QRectF box(kTitleBleed, kTitleBleed, size.width(), size.height());
    QImage layer = transparentImage(canvas, ratio);
    const QImage image = overlayAsset(assetName_);
    if (!image.isNull()) {
        QPainter p(&layer);
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.drawImage(box, image);
    } else {
        const QFont font = fallbackTitleFont();
        const QFontMetricsF metrics(font);
        const QPointF baseline(box.x(), box.y() + metrics.ascent());
        QPainterPath word;
        word.addText(baseline, font, kTitleWord);
        auto paintWord = [&](QImage& target, const QBrush& brush, QPointF offset) {
            QPainter p(&target);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(brush);
            p.drawPath(word.translated(offset));
        };
        // Back to front: a white lift below right, a blurred warm halo up left, the gradient face.
        paintWord(layer, withOpacity(Qt::white, 0.18), QPointF(0.6, 1.4));
        QImage halo = transparentImage(canvas, ratio);
        paintWord(halo, Qt::black, QPointF(-0.6, -0.6));
        halo = shadowImage(halo, withOpacity(OverlayPalette::idle(), 0.16), 1.5, QPointF(0, 0));
        {
            QPainter p(&layer);
            p.drawImage(QPointF(0, 0), halo);
        }
        QLinearGradient face(box.topLeft(), box.bottomLeft());
        face.setColorAt(0, withOpacity(Qt::white, 0.98));
        face.setColorAt(0.5, QColor::fromRgb(244, 210, 155));
        face.setColorAt(1, withOpacity(Qt::white, 0.86));
        paintWord(layer, face, QPointF(0, 0));
    }
    layer = withShadow(layer, withOpacity(Qt::black, 0.35), 3, QPointF(0, 2));
    layer = withShadow(layer, withOpacity(OverlayPalette::idle(), 0.1), 4, QPointF(-1, -1));
    cache_.insert(key, layer);
    return layer;
}

void VocalynxTitleView::paintEvent(QPaintEvent*) {
    if (opacity_ <= 0) return;
    QPainter p(this);
    p.setOpacity(opacity_);
    p.drawImage(contentOrigin() - QPointF(kTitleBleed, kTitleBleed), render(p.device()->devicePixelRatioF()));
}

// ---- breathing indicator ----

namespace {
// Frames come with the main queue's 50 ms steps, together with the cat's and the pointer check's,
// rather than on wake-ups of their own.
constexpr double kBreathingFrameInterval = 0.05;
// The swing is drawn in steps of a 32nd of its way (under a sixth of a point of the halo's size):
// each step's picture is blurred once and drawn again from then on.
constexpr int kBreathingSteps = 32;
}  // namespace

BreathingIndicator::BreathingIndicator(QColor color, Clock& clock, MainQueue& main, QWidget* parent)
    : OverlayItem(8, parent), color_(color), clock_(clock),
      ticker_(main, [this] { update(); }, kBreathingFrameInterval, TickTiming::coarse) {
    placeContent(QRectF(8, 8, 14, 14));
}

double BreathingIndicator::phase() const {
    if (!shown_) return 0;
    constexpr double period = 1.1;
    const double elapsed = std::max(0.0, secondsSince(clock_, shownAt_));
    const auto cycle = static_cast<long long>(std::floor(elapsed / period));
    const double eased = CubicBezier::easeInOut().valueAt(elapsed / period - static_cast<double>(cycle));
    return cycle % 2 == 0 ? eased : 1 - eased;
}

QImage BreathingIndicator::frame(double t, double ratio) const {
    const QSizeF canvas(width(), height());
    const QPointF centre = contentOrigin() + QPointF(7, 7);
    auto circle = [&](double diameter) {
        QImage image = transparentImage(canvas, ratio);
        QPainter q(&image);
        q.setRenderHint(QPainter::Antialiasing);
        q.setPen(Qt::NoPen);
        q.setBrush(Qt::black);
        q.drawEllipse(centre, diameter / 2, diameter / 2);
        return image;
    };
    QImage out = transparentImage(canvas, ratio);
    QPainter p(&out);
    // Halo: 10 points, scaled 1 -> 1.5 and blurred 1.5 -> 2.5 as it breathes.
    const double haloScale = 1.0 + 0.5 * t;
    p.drawImage(QPointF(0, 0),
                shadowImage(circle(10 * haloScale), withOpacity(color_, 0.22), (1.5 + 1.0 * t) * haloScale, {}));
    // Dot: 6 points, full colour, its shadow 2 -> 4.
    QImage dot = circle(6);
    dot = shadowImage(dot, color_, 0, {});
    p.drawImage(QPointF(0, 0), withShadow(dot, withOpacity(color_, 0.85), 2 + 2 * t, {}));
    return out;
}

void BreathingIndicator::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const double ratio = p.device()->devicePixelRatioF();
    const long long step = std::llround(phase() * kBreathingSteps);
    const long long key = std::llround(ratio * 100) * (kBreathingSteps + 1) + step;
    auto cached = frames_.constFind(key);
    if (cached == frames_.constEnd())
        cached = frames_.insert(key, frame(static_cast<double>(step) / kBreathingSteps, ratio));
    p.drawImage(QPointF(0, 0), *cached);
}

void BreathingIndicator::showEvent(QShowEvent*) {
    shownAt_ = clock_.now();
    shown_ = true;
    ticker_.start();
}

void BreathingIndicator::hideEvent(QHideEvent*) {
    shown_ = false;
    ticker_.stop();
}

// ---- spinning arc ----

SpinningArc::SpinningArc(Clock& clock, MainQueue& main, QWidget* parent)
    : OverlayItem(2, parent), clock_(clock), ticker_(main, [this] { update(); }, 1.0 / 30.0) {
    placeContent(QRectF(2, 2, 10, 10));
}

double SpinningArc::rotation() const {
    if (!shown_) return 0;
    const double elapsed = std::max(0.0, secondsSince(clock_, shownAt_));
    return std::fmod(elapsed / 0.9, 1.0) * 360.0;
}

void SpinningArc::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = contentOrigin() + QPointF(5, 5);
    p.translate(centre);
    p.rotate(rotation());
    QPen pen(withOpacity(Qt::white, 0.7), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    p.setPen(pen);
    // The ring's outline from its rightmost point clockwise (y down) over 0.65 of a turn; the
    // stroke is centred on the 10-point circle.
    const QRectF ring(-5, -5, 10, 10);
    p.drawArc(ring, 0, static_cast<int>(std::lround(-0.65 * 360 * 16)));
}

void SpinningArc::showEvent(QShowEvent*) {
    shownAt_ = clock_.now();
    shown_ = true;
    ticker_.start();
}

void SpinningArc::hideEvent(QHideEvent*) {
    shown_ = false;
    ticker_.stop();
}

// ---- streaming text ----

namespace {

// True when text begins with prefix as user-perceived characters: the prefix's code units match
// and the prefix does not end inside one of text's characters (an accent joined to a letter).
bool beginsWithCharacters(const QString& text, const QString& prefix) {
    if (!text.startsWith(prefix)) return false;
    if (prefix.isEmpty() || prefix.size() == text.size()) return true;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(prefix.size());
    return finder.isAtBoundary();
}

}  // namespace

StreamingTextModel::Change StreamingTextModel::setText(const QString& text) {
    if (text.isEmpty()) {
        if (stableText.isEmpty() && newText.isEmpty()) return Change::none;
        stableText.clear();
        newText.clear();
        return Change::cleared;
    }
    const QString shown = stableText + newText;
    if (beginsWithCharacters(text, shown)) {
        const QString added = text.mid(shown.size());
        if (added.isEmpty()) return Change::none;
        stableText = shown;
        newText = added;
        newTextID = QUuid::createUuid();
        return Change::extended;
    }
    stableText = text;
    newText.clear();
    newTextID = QUuid::createUuid();
    return Change::revised;
}

StreamingTextView::StreamingTextView(QString text, Clock& clock, MainQueue& main, QWidget* parent)
    : QWidget(parent),
      text_(std::move(text)),
      clock_(clock),
      ticker_(
          main,
          [this] {
              // Finished fades end here too, not only when painted: a hidden row is never painted.
              dropFinishedFades();
              updateFadingPiece();
              if (!newFading_ && outgoing_.isEmpty()) ticker_.stop();
          },
          kFadeFrameInterval) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QFont StreamingTextView::textFont() { return overlayFont(12, QFont::Normal); }

double StreamingTextView::fade(MonoTime since) const {
    return CubicBezier::easeIn().valueAt(std::clamp(secondsSince(clock_, since) / 0.15, 0.0, 1.0));
}

double StreamingTextView::newPieceOpacity() const { return newFading_ ? fade(newSince_) : 1.0; }

double StreamingTextView::outgoingOpacity() const { return outgoing_.isEmpty() ? 0.0 : 1.0 - fade(outgoingSince_); }

void StreamingTextView::dropFinishedFades() {
    if (newFading_ && fade(newSince_) >= 1) newFading_ = false;
    if (!outgoing_.isEmpty() && fade(outgoingSince_) >= 1) outgoing_.clear();
}

void StreamingTextView::hideEvent(QHideEvent*) { finishFades(); }

void StreamingTextView::finishFades() {
    newFading_ = false;
    outgoing_.clear();
    ticker_.stop();
    update();
}

void StreamingTextView::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    const QString previousPiece = model_.newText;
    switch (model_.setText(text)) {
        case StreamingTextModel::Change::none: return;
        case StreamingTextModel::Change::cleared:
            newFading_ = false;
            outgoing_.clear();
            break;
        case StreamingTextModel::Change::extended:
            newFading_ = true;
            newSince_ = clock_.now();
            outgoing_.clear();
            ticker_.start();
            break;
        case StreamingTextModel::Change::revised:
            newFading_ = false;
            outgoing_ = previousPiece;
            outgoingSince_ = clock_.now();
            if (!outgoing_.isEmpty()) ticker_.start();
            break;
    }
    update();
}

void StreamingTextView::updateFadingPiece() {
    // Between the frames of a fade only the newest or the outgoing piece changes, right of the
    // stable text; a layout not yet made for the current text repaints the whole row.
    const Layout& l = layout_;
    if (!layoutIsCurrent()) {
        update();
        return;
    }
    // Two pixels to the left for a first glyph that reaches back over its origin.
    const int left = std::max(0, static_cast<int>(std::floor(l.stableWidth)) - 2);
    update(QRect(left, 0, width() - left, height()));
}

namespace {
QStaticText plainStaticText(const QString& text, const QFont& font) {
    QStaticText out(text);
    out.setTextFormat(Qt::PlainText);
    out.prepare(QTransform(), font);
    return out;
}
}  // namespace

bool StreamingTextView::layoutIsCurrent() const {
    const Layout& l = layout_;
    return l.valid && l.text == text_ && l.stableText == model_.stableText && l.newText == model_.newText &&
           l.outgoing == outgoing_ && l.width == width() && l.height == height();
}

void StreamingTextView::layOut() {
    if (layoutIsCurrent()) return;
    Layout& l = layout_;
    l = Layout{};
    l.valid = true;
    l.text = text_;
    l.stableText = model_.stableText;
    l.newText = model_.newText;
    l.outgoing = outgoing_;
    l.width = width();
    l.height = height();
    l.font = textFont();
    const QFont& font = l.font;
    const QFontMetricsF metrics(font);
    const double available = width();
    // Static texts are placed by their top: the line's baseline less the font's ascent.
    l.top = (height() - metrics.height()) / 2;
    if (text_.isEmpty()) {
        l.stable = plainStaticText(metrics.elidedText(kPlaceholder, Qt::ElideLeft, available), font);
        return;
    }
    // The newest piece keeps its whole width when it can; the stable part takes what is left and
    // loses its head first.
    const double newWidth = std::min(metrics.horizontalAdvance(model_.newText), available);
    const QString stable = metrics.elidedText(model_.stableText, Qt::ElideLeft, available - newWidth);
    l.stableWidth = metrics.horizontalAdvance(stable);
    l.stable = plainStaticText(stable, font);
    if (!model_.newText.isEmpty())
        l.fresh = plainStaticText(metrics.elidedText(model_.newText, Qt::ElideRight, available - l.stableWidth), font);
    if (!outgoing_.isEmpty() && l.stableWidth < available)
        l.outgoingText = plainStaticText(metrics.elidedText(outgoing_, Qt::ElideRight, available - l.stableWidth), font);
}

void StreamingTextView::paintEvent(QPaintEvent*) {
    // Finished fades are dropped here, so a settled view paints like a plain label.
    dropFinishedFades();
    // Laid out again only when the text or the size changed: between the frames of a fade only
    // the opacities do.
    layOut();
    const Layout& l = layout_;

    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setFont(l.font);
    if (text_.isEmpty()) {
        p.setPen(withOpacity(Qt::white, 0.3));
        p.drawStaticText(QPointF(0, l.top), l.stable);
        return;
    }
    p.setPen(withOpacity(Qt::white, 0.9));
    p.drawStaticText(QPointF(0, l.top), l.stable);
    if (!model_.newText.isEmpty()) {
        p.setOpacity(newPieceOpacity());
        p.drawStaticText(QPointF(l.stableWidth, l.top), l.fresh);
    }
    if (!outgoing_.isEmpty() && l.stableWidth < width()) {
        p.setOpacity(outgoingOpacity());
        p.drawStaticText(QPointF(l.stableWidth, l.top), l.outgoingText);
    }
}

// ---- status text ----

StatusTextLabel::StatusTextLabel(QString text, int weight, double opacity, Truncation truncation, QWidget* parent)
    : QWidget(parent), text_(std::move(text)), font_(overlayFont(12, weight)), opacity_(opacity), truncation_(truncation) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void StatusTextLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    update();
}

double StatusTextLabel::naturalWidth() const { return std::ceil(QFontMetricsF(font_).horizontalAdvance(text_)); }

void StatusTextLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setFont(font_);
    p.setPen(withOpacity(Qt::white, opacity_));
    const QFontMetricsF metrics(font_);
    const double baseline = (height() - metrics.height()) / 2 + metrics.ascent();
    const QString shown = truncation_ == Truncation::head ? metrics.elidedText(text_, Qt::ElideLeft, width()) : text_;
    p.drawText(QPointF(0, baseline), shown);
}

}  // namespace vocalynx
