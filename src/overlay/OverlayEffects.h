#pragma once
// Soft shadows and blurs for the overlay's custom painting. Every blurred thing in the panel is
// one colour (a shadow, a glow circle, a halo), so the blur works on an alpha mask and the colour
// is applied afterwards. Radii are in points; images carry their device pixel ratio.

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRectF>

class QPainter;

namespace vocalynx {

// The gaussian spread used for a blur or shadow radius given in points.
double blurSigmaForRadius(double radius);

// Blurs an 8-bit alpha image in place (three box passes approximating a gaussian of sigma pixels).
void blurAlpha(QImage& alpha8, double sigmaPixels);

// A premultiplied image of the colour, shaped by the alpha of the source, blurred by radius
// points and moved by offset points; same size and pixel ratio as the source.
QImage shadowImage(const QImage& source, const QColor& color, double radius, QPointF offset);

// The source with a shadow drawn under it (what a view's shadow modifier does). The source must
// have room around its content for the shadow.
QImage withShadow(const QImage& source, const QColor& color, double radius, QPointF offset);

// An empty transparent premultiplied image of size points at the given pixel ratio.
QImage transparentImage(QSizeF points, double pixelRatio);

// The colour with its alpha multiplied by the opacity.
QColor withOpacity(QColor color, double opacity);

// A rounded rectangle's border stroked inside its edge (inset by half the line width), butt caps,
// miter joins.
void strokeInside(QPainter& painter, const QRectF& rect, double cornerRadius, double lineWidth, const QBrush& brush);

// The soft shadow of a rounded rectangle, drawn where the painter is (under what follows).
void paintRoundedShadow(QPainter& painter, const QRectF& rect, double cornerRadius, const QColor& color, double radius,
                        QPointF offset);

}  // namespace vocalynx
