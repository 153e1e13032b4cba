#pragma once
// The overlay's three warm colours, named after the cat moods that use them, and its images.

#include <QColor>
#include <QImage>
#include <QString>

namespace vocalynx {

struct OverlayPalette {
    static const QColor& idle();        // idle cat glow, title
    static const QColor& connecting();  // connecting cat glow
    static const QColor& recording();   // recording cat glow, breathing indicator
};

// An image shipped in the program's resources, by name ("CatIdle0", "VocalynxTitle"); a null
// image when there is none of that name. Decoded once and kept.
QImage overlayAsset(const QString& name);

}  // namespace vocalynx
