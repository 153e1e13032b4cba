#pragma once
#include <QPainterPath>
#include <QRectF>

namespace vocalynx {

// The black panel's outline: full width along the top edge, flaring inwards by the concave
// radius on both sides, with rounded bottom corners. Both radii are clamped to the rectangle.
struct NotchPanelShape {
    double concaveRadius = 12;
    double bottomRadius = 14;

    // The radii actually used in a rectangle: the flare at most a quarter of the width and of the
    // height, the bottom corners at most a quarter of the width and half the height.
    double effectiveConcaveRadius(const QRectF& rect) const;
    double effectiveBottomRadius(const QRectF& rect) const;
    QPainterPath path(const QRectF& rect) const;
};

}  // namespace vocalynx
