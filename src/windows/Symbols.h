#pragma once
#include <QColor>
#include <QPixmap>
#include <QString>

namespace vocalynx {

// The symbol images the windows use, drawn by our own painter code under the names the windows
// ask for ("airpodspro", "accessibility", "checkmark.circle.fill"). pointSize is the font size the
// symbol stands beside; the image is about that tall. An unknown name gives an empty pixmap.
QPixmap symbolPixmap(const QString& name, int pointSize, const QColor& color, qreal devicePixelRatio = 2.0);

// True when a symbol of that name exists.
bool hasSymbol(const QString& name);

}  // namespace vocalynx
