#pragma once
// Soft shadows and blurs for the overlay's custom painting. Every blurred thing in the panel is
// one colour (a shadow, a glow circle, a halo), so the blur works on an alpha mask and the colour
// is applied afterwards. Radii are in points; images carry their device pixel ratio.

#include <QColor>
#include <QImage>
#include <QPointF>

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

}  // namespace vocalynx
