#pragma once
#include <QRectF>
#include <QWidget>

namespace vocalynx {

// A custom-painted piece of the panel whose drawing spills over its frame (glows, shadows): the
// widget is the frame grown by a bleed on every side, and the frame may sit at fractions of a
// point. Subclasses paint the frame's content from contentOrigin().
class OverlayItem : public QWidget {
public:
    OverlayItem(double bleed, QWidget* parent);

    // Places the frame, in the parent's coordinates.
    void placeContent(const QRectF& frame);
    // The frame, in the parent's coordinates.
    QRectF contentRect() const { return frame_; }
    double bleed() const { return bleed_; }

protected:
    // Where the frame's top-left corner lies inside this widget.
    QPointF contentOrigin() const { return origin_; }

private:
    double bleed_;
    QRectF frame_;
    QPointF origin_;
};

}  // namespace vocalynx
