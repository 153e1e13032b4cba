#include "overlay/OverlayItem.h"

#include <cmath>

namespace vocalynx {

OverlayItem::OverlayItem(double bleed, QWidget* parent) : QWidget(parent), bleed_(bleed) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void OverlayItem::placeContent(const QRectF& frame) {
    const QRectF outer = frame.adjusted(-bleed_, -bleed_, bleed_, bleed_);
    const QPoint topLeft(static_cast<int>(std::floor(outer.x())), static_cast<int>(std::floor(outer.y())));
    const QRect r(topLeft, QSize(static_cast<int>(std::ceil(outer.right() - topLeft.x())),
                                 static_cast<int>(std::ceil(outer.bottom() - topLeft.y()))));
    const QPointF origin = frame.topLeft() - QPointF(topLeft);
    const bool changed = frame.size() != frame_.size() || origin != origin_;
    frame_ = frame;
    origin_ = origin;
    if (r != geometry()) setGeometry(r);
    if (changed) update();
}

}  // namespace vocalynx
