#include "overlay/NotchPanelShape.h"

#include <algorithm>

namespace vocalynx {

double NotchPanelShape::effectiveConcaveRadius(const QRectF& r) const {
    return std::min({concaveRadius, r.width() * 0.25, r.height() * 0.25});
}

double NotchPanelShape::effectiveBottomRadius(const QRectF& r) const {
    return std::min({bottomRadius, r.width() * 0.25, r.height() * 0.5});
}

QPainterPath NotchPanelShape::path(const QRectF& r) const {
    const double c = effectiveConcaveRadius(r);
    const double b = effectiveBottomRadius(r);
    const double minX = r.left(), minY = r.top(), maxX = r.right(), maxY = r.bottom();
    QPainterPath p;
    p.setFillRule(Qt::WindingFill);
    p.moveTo(minX, minY);
    p.quadTo(minX + c, minY, minX + c, minY + c);
    p.lineTo(minX + c, maxY - b);
    p.quadTo(minX + c, maxY, minX + c + b, maxY);
    p.lineTo(maxX - c - b, maxY);
    p.quadTo(maxX - c, maxY, maxX - c, maxY - b);
    p.lineTo(maxX - c, minY + c);
    p.quadTo(maxX - c, minY, maxX, minY);
    p.closeSubpath();
    return p;
}

}  // namespace vocalynx
