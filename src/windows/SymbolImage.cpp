#include "windows/SymbolImage.h"

#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QtMath>
#include <functional>
#include <map>

namespace vocalynx {

namespace {

// Every symbol is drawn in a 24 x 24 design box; `pen` strokes outlines, fills use the colour.
struct Canvas {
    QPainter& p;
    QColor color;
    double weight;

    QPen pen(double width = 2.0) const {
        QPen pen(color, width * weight);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        return pen;
    }
    void stroke(const QPainterPath& path, double width = 2.0) {
        p.setPen(pen(width));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }
    void fill(const QPainterPath& path) {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawPath(path);
    }
};

QPainterPath circle(QPointF c, double r) {
    QPainterPath path;
    path.addEllipse(c, r, r);
    return path;
}

void gear(Canvas& c, bool filled) {
    QPainterPath body;
    const int teeth = 8;
    const QPointF o(12, 12);
    for (int i = 0; i < teeth * 2; ++i) {
        const double a0 = (i - 0.5) * M_PI / teeth, a1 = (i + 0.5) * M_PI / teeth;
        const double r = (i % 2 == 0) ? 10.5 : 8.2;
        const QPointF p0 = o + QPointF(std::cos(a0) * r, std::sin(a0) * r);
        const QPointF p1 = o + QPointF(std::cos(a1) * r, std::sin(a1) * r);
        if (i == 0) body.moveTo(p0); else body.lineTo(p0);
        body.lineTo(p1);
    }
    body.closeSubpath();
    if (filled) {
        body.addEllipse(o, 3.4, 3.4);
        body.setFillRule(Qt::OddEvenFill);
        c.fill(body);
    } else {
        c.stroke(body, 1.7);
        c.stroke(circle(o, 3.4), 1.7);
    }
}

QPainterPath speakerBody() {
    QPainterPath path;
    path.moveTo(2.5, 9);
    path.lineTo(6.5, 9);
    path.lineTo(11.5, 4.5);
    path.lineTo(11.5, 19.5);
    path.lineTo(6.5, 15);
    path.lineTo(2.5, 15);
    path.closeSubpath();
    return path;
}

void speakerWaves(Canvas& c, bool filled) {
    if (filled) c.fill(speakerBody()); else c.stroke(speakerBody(), 1.7);
    QPainterPath waves;
    waves.arcMoveTo(QRectF(9, 7.5, 9, 9), 50);
    waves.arcTo(QRectF(9, 7.5, 9, 9), 50, -100);
    waves.arcMoveTo(QRectF(7.5, 3.5, 15, 17), 55);
    waves.arcTo(QRectF(7.5, 3.5, 15, 17), 55, -110);
    c.stroke(waves, 1.8);
}

void bolt(Canvas& c) {
    QPainterPath path;
    path.moveTo(14, 1.5);
    path.lineTo(4.5, 13.5);
    path.lineTo(11.5, 13.5);
    path.lineTo(10, 22.5);
    path.lineTo(19.5, 10.5);
    path.lineTo(12.5, 10.5);
    path.closeSubpath();
    c.fill(path);
}

void infoCircle(Canvas& c) {
    QPainterPath path = circle({12, 12}, 10.5);
    QPainterPath mark;
    mark.addEllipse(QPointF(12, 7.3), 1.5, 1.5);
    mark.addRoundedRect(QRectF(10.6, 10, 2.8, 8.2), 1.2, 1.2);
    path = path.subtracted(mark);
    c.fill(path);
}

void numberCircle(Canvas& c, int number) {
    QPainterPath path = circle({12, 12}, 10.5);
    QFont font;
    font.setPixelSize(14);
    font.setBold(true);
    QPainterPath digit;
    digit.addText(0, 0, font, QString::number(number));
    const QRectF b = digit.boundingRect();
    digit.translate(12 - b.center().x(), 12 - b.center().y());
    c.fill(path.subtracted(digit));
}

void circlepathArrows(Canvas& c) {
    QPainterPath arcs;
    const QRectF r(4, 4, 16, 16);
    arcs.arcMoveTo(r, 200);
    arcs.arcTo(r, 200, -150);
    arcs.arcMoveTo(r, 20);
    arcs.arcTo(r, 20, -150);
    c.stroke(arcs, 1.8);
    auto head = [&](double angleDeg, double dir) {
        const double a = qDegreesToRadians(angleDeg);
        const QPointF tip(12 + 8 * std::cos(a), 12 - 8 * std::sin(a));
        // Tangent direction along the travel of the arc (clockwise).
        const QPointF t(std::sin(a) * dir, std::cos(a) * dir);
        const QPointF n(-t.y(), t.x());
        QPainterPath h;
        h.moveTo(tip + t * 3.2);
        h.lineTo(tip - t * 0.8 + n * 3.2);
        h.lineTo(tip - t * 0.8 - n * 3.2);
        h.closeSubpath();
        c.fill(h);
    };
    head(50, 1);
    head(230, 1);
}

void globe(Canvas& c) {
    c.stroke(circle({12, 12}, 9.5), 1.6);
    QPainterPath lines;
    lines.addEllipse(QPointF(12, 12), 4.2, 9.5);
    lines.moveTo(2.5, 12);
    lines.lineTo(21.5, 12);
    lines.moveTo(4, 7);
    lines.lineTo(20, 7);
    lines.moveTo(4, 17);
    lines.lineTo(20, 17);
    c.stroke(lines, 1.3);
}

void person(Canvas& c) {
    c.stroke(circle({12, 7.5}, 4), 1.7);
    QPainterPath body;
    body.moveTo(4, 21);
    body.cubicTo(4, 15.5, 8, 13.5, 12, 13.5);
    body.cubicTo(16, 13.5, 20, 15.5, 20, 21);
    body.closeSubpath();
    c.stroke(body, 1.7);
}

void ladybug(Canvas& c) {
    c.stroke(circle({12, 13.5}, 7.5), 1.6);
    QPainterPath lines;
    lines.moveTo(12, 6);
    lines.lineTo(12, 21);
    lines.moveTo(8.5, 6.8);
    lines.cubicTo(8.5, 3, 15.5, 3, 15.5, 6.8);
    lines.moveTo(5, 10);
    lines.lineTo(2, 8.5);
    lines.moveTo(19, 10);
    lines.lineTo(22, 8.5);
    lines.moveTo(4.5, 14.5);
    lines.lineTo(1.8, 14.5);
    lines.moveTo(19.5, 14.5);
    lines.lineTo(22.2, 14.5);
    c.stroke(lines, 1.5);
    QPainterPath dots;
    dots.addEllipse(QPointF(9, 11.5), 1.3, 1.3);
    dots.addEllipse(QPointF(15, 11.5), 1.3, 1.3);
    dots.addEllipse(QPointF(9.3, 16.5), 1.3, 1.3);
    dots.addEllipse(QPointF(14.7, 16.5), 1.3, 1.3);
    c.fill(dots);
}

void envelope(Canvas& c) {
    QPainterPath box;
    box.addRoundedRect(QRectF(2.5, 5, 19, 14), 2.2, 2.2);
    c.stroke(box, 1.6);
    QPainterPath flap;
    flap.moveTo(3.5, 6.5);
    flap.lineTo(12, 13);
    flap.lineTo(20.5, 6.5);
    c.stroke(flap, 1.6);
}

void stethoscope(Canvas& c) {
    QPainterPath tube;
    tube.moveTo(5, 3);
    tube.lineTo(5, 9);
    tube.cubicTo(5, 13.5, 12, 13.5, 12, 9);
    tube.lineTo(12, 3);
    tube.moveTo(8.5, 12.4);
    tube.lineTo(8.5, 15.5);
    tube.cubicTo(8.5, 21, 18, 21, 18, 15.5);
    tube.lineTo(18, 13.5);
    c.stroke(tube, 1.6);
    c.stroke(circle({18, 11.2}, 2.3), 1.6);
}

void chevronRight(Canvas& c) {
    QPainterPath path;
    path.moveTo(8.5, 4);
    path.lineTo(16.5, 12);
    path.lineTo(8.5, 20);
    c.stroke(path, 2.6);
}

void docText(Canvas& c) {
    QPainterPath page;
    page.moveTo(5, 2.5);
    page.lineTo(14.5, 2.5);
    page.lineTo(19.5, 7.5);
    page.lineTo(19.5, 21.5);
    page.lineTo(5, 21.5);
    page.closeSubpath();
    page.moveTo(14.5, 2.5);
    page.lineTo(14.5, 7.5);
    page.lineTo(19.5, 7.5);
    c.stroke(page, 1.5);
    QPainterPath lines;
    lines.moveTo(8.5, 11.5);
    lines.lineTo(16, 11.5);
    lines.moveTo(8.5, 14.5);
    lines.lineTo(16, 14.5);
    lines.moveTo(8.5, 17.5);
    lines.lineTo(13.5, 17.5);
    c.stroke(lines, 1.4);
}

void arrowUpRight(Canvas& c) {
    QPainterPath path;
    path.moveTo(6, 18);
    path.lineTo(18, 6);
    path.moveTo(8.5, 6);
    path.lineTo(18, 6);
    path.lineTo(18, 15.5);
    c.stroke(path, 2.4);
}


// The onboarding's symbols are drawn in a unit box (height 1, width `aspect`) and fitted into the
// design box here.
void inUnitBox(Canvas& c, double aspect, const std::function<void(QPainter&, const QColor&)>& draw) {
    const double scale = 24.0 / std::max(1.0, aspect);
    c.p.save();
    c.p.translate((24.0 - aspect * scale) / 2, (24.0 - scale) / 2);
    c.p.scale(scale, scale);
    draw(c.p, c.color);
    c.p.restore();
}

// One earbud: a rounded head with the stem hanging below it, mirrored for the right ear.
void earbud(QPainter& p, const QColor& color, double cx, bool mirrored) {
    const double s = mirrored ? -1.0 : 1.0;
    QPainterPath head;
    head.addEllipse(QPointF(cx, 0.30), 0.17, 0.21);
    QPainterPath stem;
    const double stemX = cx + s * 0.08;
    stem.addRoundedRect(QRectF(stemX - 0.055, 0.30, 0.11, 0.62), 0.055, 0.055);
    p.fillPath(head.united(stem), color);
    // The speaker mesh: a small oval on the inner side of the head.
    p.setPen(Qt::NoPen);
    p.setBrush(color.lightness() > 128 ? QColor(0, 0, 0, 90) : QColor(255, 255, 255, 120));
    p.drawEllipse(QPointF(cx - s * 0.07, 0.24), 0.045, 0.06);
}

void airpods(Canvas& c) {
    inUnitBox(c, 1.15, [](QPainter& p, const QColor& color) {
        earbud(p, color, 0.34, false);
        earbud(p, color, 0.81, true);
    });
}

// A ring with a figure with outstretched arms inside.
void accessibilityFigure(Canvas& c) {
    inUnitBox(c, 1.0, [](QPainter& p, const QColor& color) {
        p.setPen(QPen(color, 0.075));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(0.5, 0.5), 0.45, 0.45);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QPointF(0.5, 0.255), 0.075, 0.075);
        p.setPen(QPen(color, 0.085, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(QPointF(0.26, 0.39), QPointF(0.74, 0.39));                // arms
        p.drawLine(QPointF(0.5, 0.39), QPointF(0.5, 0.58));                  // body
        p.drawPolyline(QPolygonF{{0.37, 0.78}, {0.5, 0.58}, {0.63, 0.78}});  // legs
    });
}

void checkmarkCircle(Canvas& c) {
    inUnitBox(c, 1.0, [](QPainter& p, const QColor& color) {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QPointF(0.5, 0.5), 0.48, 0.48);
        p.setPen(QPen(Qt::white, 0.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF{{0.29, 0.52}, {0.44, 0.67}, {0.72, 0.36}});
    });
}

// A filled, softly rounded warning triangle with the exclamation mark cut out.
void warningTriangle(Canvas& c) {
    QPainterPath triangle;
    triangle.moveTo(12, 2.6);
    triangle.lineTo(22.4, 20.6);
    triangle.lineTo(1.6, 20.6);
    triangle.closeSubpath();
    QPainterPathStroker rounding;
    rounding.setWidth(2.4);
    rounding.setJoinStyle(Qt::RoundJoin);
    QPainterPath shape = triangle.united(rounding.createStroke(triangle));
    QPainterPath mark;
    mark.addRoundedRect(QRectF(10.75, 8.2, 2.5, 7.0), 1.2, 1.2);
    mark.addEllipse(QPointF(12, 17.6), 1.4, 1.4);
    c.fill(shape.subtracted(mark));
}

using Painter = std::function<void(Canvas&)>;

const std::map<QString, Painter>& painters() {
    static const std::map<QString, Painter> table{
        {QStringLiteral("gearshape"), [](Canvas& c) { gear(c, false); }},
        {QStringLiteral("speaker.wave.2.fill"), [](Canvas& c) { speakerWaves(c, true); }},
        {QStringLiteral("speaker.wave.2"), [](Canvas& c) { speakerWaves(c, false); }},
        {QStringLiteral("bolt.fill"), bolt},
        {QStringLiteral("info.circle.fill"), infoCircle},
        {QStringLiteral("1.circle.fill"), [](Canvas& c) { numberCircle(c, 1); }},
        {QStringLiteral("2.circle.fill"), [](Canvas& c) { numberCircle(c, 2); }},
        {QStringLiteral("3.circle.fill"), [](Canvas& c) { numberCircle(c, 3); }},
        {QStringLiteral("arrow.triangle.2.circlepath"), circlepathArrows},
        {QStringLiteral("globe"), globe},
        {QStringLiteral("person"), person},
        {QStringLiteral("ladybug"), ladybug},
        {QStringLiteral("envelope"), envelope},
        {QStringLiteral("stethoscope"), stethoscope},
        {QStringLiteral("chevron.right"), chevronRight},
        {QStringLiteral("doc.text"), docText},
        {QStringLiteral("arrow.up.right"), arrowUpRight},
        {QStringLiteral("airpodspro"), airpods},
        {QStringLiteral("accessibility"), accessibilityFigure},
        {QStringLiteral("checkmark.circle.fill"), checkmarkCircle},
        {QStringLiteral("exclamationmark.triangle.fill"), warningTriangle},
    };
    return table;
}

}  // namespace

bool canPaintSymbol(const QString& name) { return painters().count(name) > 0; }

void paintSymbol(QPainter& painter, const QString& name, const QRectF& box, const QColor& color, double weight) {
    const auto it = painters().find(name);
    if (it == painters().end()) return;
    const double side = std::min(box.width(), box.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.center().x() - side / 2, box.center().y() - side / 2);
    painter.scale(side / 24.0, side / 24.0);
    Canvas canvas{painter, color, weight};
    it->second(canvas);
    painter.restore();
}

SymbolView::SymbolView(QString name, double pointSize, QColor color, QSize frame, double weight, QWidget* parent)
    : QWidget(parent), name_(std::move(name)), pointSize_(pointSize), color_(color), weight_(weight) {
    setFixedSize(frame);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolView::setColor(const QColor& color) {
    color_ = color;
    update();
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // A symbol at point size s is about as tall as a capital letter plus a little: 1.2 s.
    const double side = pointSize_ * 1.2;
    const QRectF box(QPointF(width() / 2.0 - side / 2, height() / 2.0 - side / 2), QSizeF(side, side));
    paintSymbol(painter, name_, box, color_, weight_);
}

}  // namespace vocalynx
