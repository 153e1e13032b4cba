#pragma once
// The small symbols of the overlay, drawn as paths of our own: each fills a square of the given
// symbol size centred on a point.

#include <QColor>
#include <QPointF>

class QPainter;

namespace vocalynx {

enum class OverlaySymbol { warningTriangle, musicNote, backward, forward, play, pause };

void drawOverlaySymbol(QPainter& painter, OverlaySymbol symbol, QPointF centre, double size, const QColor& color);

}  // namespace vocalynx
