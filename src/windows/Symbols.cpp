#include "windows/Symbols.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <functional>
#include <map>

namespace vocalynx {

namespace {

// Each painter draws into a unit box of width x 1 (height 1), origin at the top left.
struct Symbol {
    qreal aspect;  // width / height
    std::function<void(QPainter&, const QColor&)> paint;
};

// One earbud: a rounded head with the stem hanging below it, mirrored for the right ear.
void paintEarbud(QPainter& p, const QColor& color, qreal cx, bool mirrored) {
    const qreal s = mirrored ? -1.0 : 1.0;
    QPainterPath head;
    head.addEllipse(QPointF(cx, 0.30), 0.17, 0.21);
    QPainterPath stem;
    const qreal stemX = cx + s * 0.08;
    stem.addRoundedRect(QRectF(stemX - 0.055, 0.30, 0.11, 0.62), 0.055, 0.055);
    QPainterPath bud = head.united(stem);
    p.fillPath(bud, color);
    // The speaker mesh: a small dark oval on the inner side of the head.
    QColor mesh = color.lightness() > 128 ? QColor(0, 0, 0, 90) : QColor(255, 255, 255, 120);
    p.setBrush(mesh);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(cx - s * 0.07, 0.24), 0.045, 0.06);
}

const std::map<QString, Symbol>& symbols() {
    static const std::map<QString, Symbol> table{
        {QStringLiteral("airpodspro"),
         {1.15,
          [](QPainter& p, const QColor& c) {
              paintEarbud(p, c, 0.34, false);
              paintEarbud(p, c, 0.81, true);
          }}},
        {QStringLiteral("accessibility"),
         {1.0,
          [](QPainter& p, const QColor& c) {
              // A ring with a figure with outstretched arms inside.
              QPen ring(c, 0.075);
              p.setPen(ring);
              p.setBrush(Qt::NoBrush);
              p.drawEllipse(QPointF(0.5, 0.5), 0.45, 0.45);
              p.setPen(Qt::NoPen);
              p.setBrush(c);
              p.drawEllipse(QPointF(0.5, 0.255), 0.075, 0.075);
              QPen limb(c, 0.085, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
              p.setPen(limb);
              p.drawLine(QPointF(0.26, 0.39), QPointF(0.74, 0.39));                  // arms
              p.drawLine(QPointF(0.5, 0.39), QPointF(0.5, 0.58));                    // body
              p.drawPolyline(QPolygonF{{0.37, 0.78}, {0.5, 0.58}, {0.63, 0.78}});    // legs
          }}},
        {QStringLiteral("checkmark.circle.fill"),
         {1.0,
          [](QPainter& p, const QColor& c) {
              p.setPen(Qt::NoPen);
              p.setBrush(c);
              p.drawEllipse(QPointF(0.5, 0.5), 0.48, 0.48);
              QPen tick(Qt::white, 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
              p.setPen(tick);
              p.drawPolyline(QPolygonF{{0.29, 0.52}, {0.44, 0.67}, {0.72, 0.36}});
          }}},
    };
    return table;
}

}  // namespace

bool hasSymbol(const QString& name) { return symbols().count(name) > 0; }

QPixmap symbolPixmap(const QString& name, int pointSize, const QColor& color, qreal devicePixelRatio) {
    const auto it = symbols().find(name);
    if (it == symbols().end() || pointSize <= 0) return {};
    const int height = pointSize;
    const int width = qRound(pointSize * it->second.aspect);
    QImage image(QSize(width, height) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(height * devicePixelRatio, height * devicePixelRatio);
        it->second.paint(painter, color);
    }
    image.setDevicePixelRatio(devicePixelRatio);
    return QPixmap::fromImage(image);
}

SymbolView::SymbolView(QString name, int pointSize, QColor color, QWidget* parent)
    : QWidget(parent), name_(std::move(name)), pointSize_(pointSize), color_(std::move(color)) {
    setFixedSize(sizeHint());
}

QSize SymbolView::sizeHint() const {
    const auto it = symbols().find(name_);
    const qreal aspect = it == symbols().end() ? 1.0 : it->second.aspect;
    return {qRound(pointSize_ * aspect), pointSize_};
}

void SymbolView::paintEvent(QPaintEvent*) {
    const auto it = symbols().find(name_);
    if (it == symbols().end()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pointSize_, pointSize_);
    it->second.paint(painter, color_);
}

}  // namespace vocalynx
