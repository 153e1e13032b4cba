#include "overlay/OverlaySymbols.h"

#include <QPainter>
#include <QPainterPath>

namespace vocalynx {

namespace {

QPainterPath triangle(QPointF a, QPointF b, QPointF c) {
    QPainterPath path;
    path.moveTo(a);
    path.lineTo(b);
    path.lineTo(c);
    path.closeSubpath();
    return path;
}

// The symbol in a unit square (0..1, y down).
QPainterPath unitPath(OverlaySymbol symbol) {
    QPainterPath path;
    switch (symbol) {
        case OverlaySymbol::warningTriangle: {
            QPainterPath body;
            body.moveTo(0.5, 0.04);
            body.lineTo(0.98, 0.92);
            body.lineTo(0.02, 0.92);
            body.closeSubpath();
            QPainterPath mark;
            mark.addRoundedRect(QRectF(0.44, 0.32, 0.12, 0.34), 0.05, 0.05);
            mark.addEllipse(QPointF(0.5, 0.78), 0.07, 0.07);
            path = body.subtracted(mark);
            break;
        }
        case OverlaySymbol::musicNote: {
            path.addEllipse(QPointF(0.33, 0.78), 0.2, 0.16);
            path.addRect(QRectF(0.45, 0.08, 0.09, 0.7));
            QPainterPath flag;
            flag.moveTo(0.45, 0.08);
            flag.cubicTo(0.62, 0.12, 0.86, 0.22, 0.84, 0.46);
            flag.cubicTo(0.8, 0.34, 0.68, 0.28, 0.54, 0.28);
            flag.lineTo(0.54, 0.08);
            flag.closeSubpath();
            path = path.united(flag);
            break;
        }
        case OverlaySymbol::play: path = triangle({0.18, 0.08}, {0.92, 0.5}, {0.18, 0.92}); break;
        case OverlaySymbol::pause:
            path.addRoundedRect(QRectF(0.18, 0.1, 0.22, 0.8), 0.05, 0.05);
            path.addRoundedRect(QRectF(0.6, 0.1, 0.22, 0.8), 0.05, 0.05);
            break;
        case OverlaySymbol::forward:
            path.addPath(triangle({0.02, 0.18}, {0.5, 0.5}, {0.02, 0.82}));
            path.addPath(triangle({0.5, 0.18}, {0.98, 0.5}, {0.5, 0.82}));
            break;
        case OverlaySymbol::backward:
            path.addPath(triangle({0.98, 0.18}, {0.5, 0.5}, {0.98, 0.82}));
            path.addPath(triangle({0.5, 0.18}, {0.02, 0.5}, {0.5, 0.82}));
            break;
    }
    return path;
}

}  // namespace

void drawOverlaySymbol(QPainter& painter, OverlaySymbol symbol, QPointF centre, double size, const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(centre - QPointF(size / 2, size / 2));
    painter.scale(size, size);
    painter.fillPath(unitPath(symbol), color);
    painter.restore();
}

}  // namespace vocalynx
