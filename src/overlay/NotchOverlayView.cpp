#include "overlay/NotchOverlayView.h"

#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>

#include "engine/WhisperEngine.h"
#include "overlay/MediaCardSlot.h"
#include "overlay/OverlayEffects.h"
#include "overlay/OverlayPalette.h"
#include "overlay/OverlayPanelState.h"
#include "overlay/SettingsGearButton.h"
#include "overlay/StatusRow.h"
#include "overlay/StatusViews.h"

namespace vocalynx {

namespace {

double lerp(double a, double b, double t) { return a + (b - a) * t; }

// The values a paint cache was drawn for, in hundredths: compared as numbers rather than
// formatted, since the panel repaints on every frame of the cat.
template <typename... Values>
std::array<long long, sizeof...(Values)> paintKey(Values... values) {
    return {std::llround(static_cast<double>(values) * 100)...};
}

// Shows a piece of the panel at an opacity: hidden at 0, an opacity effect in between, plain at 1.
void applyFade(QWidget* widget, double opacity) {
    opacity = std::clamp(opacity, 0.0, 1.0);
    if (opacity <= 0.001) {
        widget->hide();
        return;
    }
    if (opacity >= 0.999) {
        if (widget->graphicsEffect()) widget->setGraphicsEffect(nullptr);
    } else {
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
        if (!effect) {
            effect = new QGraphicsOpacityEffect(widget);
            widget->setGraphicsEffect(effect);
        }
        effect->setOpacity(opacity);
    }
    widget->show();
}

}  // namespace

QString visualStateName(NotchOverlayView::VisualState state) {
    switch (state) {
        case NotchOverlayView::VisualState::idle: return QStringLiteral("idle");
        case NotchOverlayView::VisualState::active: return QStringLiteral("active");
        case NotchOverlayView::VisualState::hover: return QStringLiteral("hover");
    }
    return {};
}

NotchOverlayView::NotchOverlayView(Runtime& runtime, OverlayPanelState& panelState, NotchMetrics metrics,
                                   QWidget* parent)
    : QWidget(parent),
      runtime_(runtime),
      panelState_(panelState),
      metrics_(metrics),
      ticker_(runtime.main, [this] { onFrame(); }) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    const QSizeF size = panelSize(metrics_);
    resize(static_cast<int>(std::ceil(size.width())), static_cast<int>(std::ceil(size.height())));

    // The pieces of the panel sit in a frame that clips them to the body while it animates; the
    // media card in one more that keeps it below the header row (cat and title) meanwhile.
    pieces_ = new QWidget(this);
    cardClip_ = new QWidget(pieces_);
    statusRow_ = new StatusRow(runtime_, pieces_);
    cardSlot_ = new MediaCardSlot(cardClip_);
    title_ = new VocalynxTitleView(QStringLiteral("VocalynxTitle"), pieces_);
    gear_ = new SettingsGearButton(runtime_.notifications, pieces_);
    // The cat is made once and kept across every state change, so its timer and counter carry on.
    cat_ = new PixelCatSprite(catMood(), runtime_.main, this);

    shownState_ = visualState();
    from_ = to_ = targetLook(shownState_, metrics_);
    connect(&panelState_, &OverlayPanelState::isHoveringChanged, this, [this] { inputsChanged(); });
    layoutChildren();
}

NotchOverlayView::~NotchOverlayView() = default;

QSizeF NotchOverlayView::panelSize(const NotchMetrics& m) {
    return QSizeF(m.notchWidth + 280 + 20, m.notchHeight + 28 + 8 + 70 + 10);
}

void NotchOverlayView::observeEngine(WhisperEngine& engine) {
    auto read = [this, &engine] {
        setEngineValues({engine.state(), engine.previewText(), engine.micReady(), engine.microphoneIsAirPods()});
    };
    connect(&engine, &WhisperEngine::microphoneChanged, this, read);
    connect(&engine, &WhisperEngine::stateChanged, this, read);
    connect(&engine, &WhisperEngine::previewTextChanged, this, read);
    connect(&engine, &WhisperEngine::micReadyChanged, this, read);
    read();
}

void NotchOverlayView::setEngineValues(const EngineValues& values) {
    engine_ = values;
    inputsChanged();
}

void NotchOverlayView::setMetrics(const NotchMetrics& metrics) {
    if (metrics == metrics_) return;
    metrics_ = metrics;
    const QSizeF size = panelSize(metrics_);
    resize(static_cast<int>(std::ceil(size.width())), static_cast<int>(std::ceil(size.height())));
    // A new screen is not a state change: the shape takes the new size at once, unless the
    // visual state changes too (then inputsChanged animates towards the new target).
    const VisualState state = visualState();
    if (state == shownState_) {
        animating_ = false;
        ticker_.stop();
        from_ = to_ = targetLook(state, metrics_);
    }
    inputsChanged();
    layoutChildren();
    update();
}

void NotchOverlayView::setMediaCard(QWidget* card) {
    cardSlot_->setCard(card);
    layoutChildren();  // the slot makes room for what the card paints outside its frame
}

QWidget* NotchOverlayView::mediaCardSlot() const { return cardSlot_; }

QWidget& NotchOverlayView::statusRow() const { return *statusRow_; }

bool NotchOverlayView::isActive() const {
    return engine_.state == RecordingState::recording || engine_.state == RecordingState::transcribing;
}

bool NotchOverlayView::isHoverExpanded() const {
    return panelState_.isHovering() && !isActive() && engine_.state != RecordingState::collapsing;
}

NotchOverlayView::VisualState NotchOverlayView::visualState() const {
    if (isHoverExpanded()) return VisualState::hover;
    if (isActive()) return VisualState::active;
    return VisualState::idle;
}

double NotchOverlayView::catYOffset() const {
    const double size = catSize();
    if (isHoverExpanded() || isActive()) return metrics_.notchHeight + (28 - size) * 0.5;
    return (metrics_.notchHeight - size) * 0.5;
}

PixelCatMood NotchOverlayView::catMood() const {
    if (engine_.state == RecordingState::recording && !engine_.micReady) return PixelCatMood::connecting;
    if (isActive()) return PixelCatMood::recording;
    return PixelCatMood::idle;
}

NotchOverlayView::Look NotchOverlayView::targetLook(VisualState state, const NotchMetrics& m) {
    const double nw = m.notchWidth, nh = m.notchHeight;
    Look look;
    switch (state) {
        case VisualState::hover:
            look.width = nw + 280;
            look.height = nh + 28 + 8 + 70;
            look.bottomRadius = 18;
            look.shadowOpacity = 0.5;
            look.shadowRadius = 8;
            look.catSize = 22;
            look.catY = nh + (28 - 22) * 0.5;
            look.titleOpacity = look.gearOpacity = look.cardOpacity = 1;
            break;
        case VisualState::active:
            look.width = nw + 200;
            look.height = nh + 28;
            look.bottomRadius = 18;
            look.shadowOpacity = 0.45;
            look.shadowRadius = 6;
            look.catSize = 20;
            look.catY = nh + (28 - 20) * 0.5;
            look.statusOpacity = 1;
            break;
        case VisualState::idle:
            look.width = m.isBuiltIn ? nw + 90 : nw;
            look.height = nh;
            look.bottomRadius = 14;
            look.catSize = 20;
            look.catY = (nh - 20) * 0.5;
            break;
    }
    return look;
}

const AnimationCurve& NotchOverlayView::animationFor(VisualState state) {
    static const AnimationCurve hover = AnimationCurve::spring(0.32, 0.9);
    static const AnimationCurve active = AnimationCurve::spring(0.3, 0.88);
    static const AnimationCurve idle = AnimationCurve::ease(CubicBezier::easeOut(), 0.18);
    switch (state) {
        case VisualState::hover: return hover;
        case VisualState::active: return active;
        case VisualState::idle: return idle;
    }
    return idle;
}

NotchOverlayView::Look NotchOverlayView::presentedLook() const {
    if (!animating_ || !curve_) return to_;
    const double t = curve_->progress(secondsBetween(animationStart_, runtime_.clock.now()));
    Look l;
    l.width = lerp(from_.width, to_.width, t);
    l.height = lerp(from_.height, to_.height, t);
    l.bottomRadius = std::max(0.0, lerp(from_.bottomRadius, to_.bottomRadius, t));
    l.shadowOpacity = std::clamp(lerp(from_.shadowOpacity, to_.shadowOpacity, t), 0.0, 1.0);
    l.shadowRadius = std::max(0.0, lerp(from_.shadowRadius, to_.shadowRadius, t));
    l.catSize = lerp(from_.catSize, to_.catSize, t);
    l.catY = lerp(from_.catY, to_.catY, t);
    auto fade = [t](double a, double b) { return std::clamp(lerp(a, b, t), 0.0, 1.0); };
    l.titleOpacity = fade(from_.titleOpacity, to_.titleOpacity);
    l.gearOpacity = fade(from_.gearOpacity, to_.gearOpacity);
    l.statusOpacity = fade(from_.statusOpacity, to_.statusOpacity);
    l.cardOpacity = fade(from_.cardOpacity, to_.cardOpacity);
    return l;
}

bool NotchOverlayView::isAnimating() const {
    return animating_ && curve_ && secondsBetween(animationStart_, runtime_.clock.now()) < curve_->duration();
}

void NotchOverlayView::finishAnimations() {
    statusRow_->finishFades();
    if (!animating_) return;
    animating_ = false;
    ticker_.stop();
    from_ = to_;
    layoutChildren();
    update();
}

void NotchOverlayView::inputsChanged() {
    cat_->setMood(catMood());

    // The status row is rebuilt when a dictation starts and whenever its content changes; while it
    // fades out it keeps what it showed last.
    StatusContent content = StatusContent::none;
    if (engine_.state == RecordingState::transcribing)
        content = StatusContent::transcribing;
    else if (engine_.state == RecordingState::recording)
        content = engine_.micReady ? StatusContent::listening : StatusContent::connecting;
    const bool rowComesIn = content != StatusContent::none && shownState_ != VisualState::active;
    if (content != StatusContent::none && (content != statusContent_ || rowComesIn)) {
        statusContent_ = content;
        statusRow_->build(content, engine_);
    } else if (content != StatusContent::none) {
        statusRow_->refresh(engine_);
    }

    const VisualState state = visualState();
    if (state != shownState_) {
        from_ = presentedLook();
        to_ = targetLook(state, metrics_);
        curve_ = &animationFor(state);
        animationStart_ = runtime_.clock.now();
        animating_ = true;
        shownState_ = state;
        ticker_.start();
        update();
    }
    // The body and its shadow change only with the visual state (above) or the screen; a new
    // preview text or a new cat mood repaints only the pieces that show it.
    layoutChildren();
}

void NotchOverlayView::onFrame() {
    if (animating_ && curve_ && secondsBetween(animationStart_, runtime_.clock.now()) >= curve_->duration()) {
        animating_ = false;
        from_ = to_;
    }
    if (!animating_) ticker_.stop();
    layoutChildren();
    update();
}

QRectF NotchOverlayView::bodyRect() const {
    const Look l = presentedLook();
    const QSizeF window = panelSize(metrics_);
    return QRectF((window.width() - l.width) / 2, 0, l.width, l.height);
}

NotchPanelShape NotchOverlayView::shape() const { return {kConcaveRadius, presentedLook().bottomRadius}; }

QRectF NotchOverlayView::catRect() const {
    const Look l = presentedLook();
    return QRectF(20, l.catY, l.catSize, l.catSize);
}

QRectF NotchOverlayView::titleRect() const {
    return QRectF(QPointF(50, metrics_.notchHeight + 6), title_->contentSize());
}

QRectF NotchOverlayView::gearRect() const {
    const Look l = presentedLook();
    return QRectF(l.width - 16 - 18, (metrics_.notchHeight - 18) * 0.5, 18, 18);
}

QRectF NotchOverlayView::statusRowRect() const {
    const Look l = presentedLook();
    return QRectF(50, metrics_.notchHeight, std::max(0.0, l.width - 50 - 18), StatusRow::kHeight);
}

QRegion NotchOverlayView::bodyRegion() const {
    return QRegion(shape().path(bodyRect()).toFillPolygon().toPolygon(), Qt::WindingFill);
}

void NotchOverlayView::setShapedToBody(bool shaped) {
    if (shaped == shapedToBody_) return;
    shapedToBody_ = shaped;
    updateWindowShape();
}

void NotchOverlayView::updateWindowShape() {
    QWidget* panel = window();
    if (!shapedToBody_) {
        if (!windowShape_.isEmpty()) panel->clearMask();
        windowShape_ = QRegion();
        return;
    }
    QRegion shape = bodyRegion().translated(mapTo(panel, QPoint(0, 0)));
    // An empty mask would mean no shape at all: a body of no size keeps one pixel.
    if (shape.isEmpty()) shape = QRegion(mapTo(panel, QPoint(0, 0)).x(), 0, 1, 1);
    if (shape == windowShape_) return;
    windowShape_ = shape;
    panel->setMask(shape);
}

QRectF NotchOverlayView::mediaCardRect() const {
    const Look l = presentedLook();
    return QRectF(24, l.height - 80, std::max(0.0, l.width - 48), 70);
}

void NotchOverlayView::layoutChildren() {
    const Look l = presentedLook();
    const QRectF bodyFrame = bodyRect();
    auto whole = [](const QRectF& r) {
        return QRect(static_cast<int>(std::lround(r.x())), static_cast<int>(std::lround(r.y())),
                     static_cast<int>(std::lround(r.width())), static_cast<int>(std::lround(r.height())));
    };

    // At rest the frames cover the whole view; while the body animates, the pieces show only
    // inside it, and the card only from where its shadow begins at rest down (it slides in under
    // the header row instead of across it).
    QRect piecesFrame = rect();
    QRect cardFrame(QPoint(0, 0), size());
    if (isAnimating()) {
        piecesFrame = whole(bodyFrame);
        const int cardTop = static_cast<int>(
            std::floor(targetLook(VisualState::hover, metrics_).height - 80 - cardSlot_->bleed()));
        cardFrame = QRect(0, cardTop, piecesFrame.width(), std::max(0, piecesFrame.height() - cardTop));
    }
    pieces_->setGeometry(piecesFrame);
    cardClip_->setGeometry(cardFrame);
    const QPointF body = bodyFrame.topLeft() - QPointF(piecesFrame.topLeft());
    auto toPieces = [&](const QRectF& r) { return r.translated(body); };

    cat_->placeContent(catRect().translated(bodyFrame.topLeft()));
    cat_->show();

    title_->placeContent(toPieces(titleRect()));
    applyFade(title_, l.titleOpacity);

    gear_->setGeometry(whole(toPieces(gearRect())));
    applyFade(gear_, l.gearOpacity);
    gear_->setEnabled(l.gearOpacity > 0.5);

    const QRectF row = toPieces(statusRowRect()).adjusted(-StatusRow::kBleed, 0, 0, 0);
    statusRow_->setGeometry(whole(row));
    applyFade(statusRow_, statusContent_ == StatusContent::none ? 0 : l.statusOpacity);

    const double cardBleed = cardSlot_->bleed();
    cardSlot_->setGeometry(whole(toPieces(mediaCardRect())
                                     .translated(-QPointF(cardFrame.topLeft()))
                                     .adjusted(-cardBleed, -cardBleed, cardBleed, cardBleed)));
    applyFade(cardSlot_, l.cardOpacity);

    // The card's room for its shadows reaches under the gear; the gear stays clickable above it.
    gear_->raise();
    cat_->raise();
    updateWindowShape();
}

QImage NotchOverlayView::bodyShadow(const QRectF& body, double radius, double ratio) {
    const double margin = std::ceil(radius * 2 + 2);
    const auto key = paintKey(body.width(), body.height(), shape().bottomRadius, radius, ratio);
    if (key == shadowKey_ && !shadowCache_.isNull()) return shadowCache_;
    QImage mask = transparentImage(QSizeF(body.width() + 2 * margin, body.height() + 2 * margin), ratio);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawPath(shape().path(QRectF(margin, margin, body.width(), body.height())));
    }
    shadowCache_ = shadowImage(mask, Qt::black, radius, QPointF(0, 0));
    shadowKey_ = key;
    return shadowCache_;
}

QRect NotchOverlayView::bodyInterior(const QRectF& body) const {
    // Between the bottom corners the body is black from its top edge to its bottom edge: the
    // concave ears and the rounded corners lie outside these columns.
    const NotchPanelShape s = shape();
    const double side = s.effectiveConcaveRadius(body) + s.effectiveBottomRadius(body);
    const int left = static_cast<int>(std::ceil(body.left() + side));
    const int right = static_cast<int>(std::floor(body.right() - side));
    const int top = static_cast<int>(std::ceil(body.top()));
    const int bottom = static_cast<int>(std::floor(body.bottom()));
    if (right <= left || bottom <= top) return {};
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

void NotchOverlayView::paintEvent(QPaintEvent* event) {
    const Look l = presentedLook();
    const QRectF body = bodyRect();
    QPainter p(this);
    // A repaint inside the body's plain black middle (the status row's dot and text, 20 times a
    // second while dictating) needs no shadow and no edges: what lies there is black whatever
    // was drawn below it.
    if (bodyInterior(body).contains(event->rect())) {
        p.fillRect(event->rect(), Qt::black);
        return;
    }
    p.setRenderHint(QPainter::Antialiasing);
    if (l.shadowOpacity > 0.001 && l.shadowRadius > 0.01) {
        // The shadow is soft, so it is computed at one pixel per point and scaled.
        const double margin = std::ceil(l.shadowRadius * 2 + 2);
        p.save();
        p.setOpacity(l.shadowOpacity);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(body.x() - margin, body.y() - margin, body.width() + 2 * margin, body.height() + 2 * margin),
                    bodyShadow(body, l.shadowRadius, 1.0));
        p.restore();
    }
    const double ratio = p.device()->devicePixelRatioF();
    if (isAnimating()) {
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawPath(shape().path(body));
        return;
    }
    // At rest the body is one image, so the cat's frame changes repaint cheaply.
    const auto key = paintKey(body.width(), body.height(), l.bottomRadius, ratio);
    if (key != bodyKey_ || bodyCache_.isNull()) {
        bodyCache_ = transparentImage(body.size(), ratio);
        QPainter q(&bodyCache_);
        q.setRenderHint(QPainter::Antialiasing);
        q.setPen(Qt::NoPen);
        q.setBrush(Qt::black);
        q.drawPath(shape().path(QRectF(QPointF(0, 0), body.size())));
        bodyKey_ = key;
    }
    p.drawImage(body.topLeft(), bodyCache_);
}

}  // namespace vocalynx
