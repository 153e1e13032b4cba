#include "overlay/OverlayPalette.h"

#include <QHash>
#include <QMutex>

// Resources of a static library are registered by hand, outside any namespace.
static void registerOverlayArt() { Q_INIT_RESOURCE(overlay_art); }

namespace vocalynx {

const QColor& OverlayPalette::idle() {
    static const QColor c = QColor::fromRgb(242, 194, 123);
    return c;
}

const QColor& OverlayPalette::connecting() {
    static const QColor c = QColor::fromRgb(255, 211, 154);
    return c;
}

const QColor& OverlayPalette::recording() {
    static const QColor c = QColor::fromRgb(255, 177, 74);
    return c;
}

QImage overlayAsset(const QString& name) {
    static const bool registered = (registerOverlayArt(), true);
    (void)registered;
    static QHash<QString, QImage> cache;
    static QMutex mutex;
    QMutexLocker lock(&mutex);
    auto it = cache.constFind(name);
    if (it != cache.constEnd()) return *it;
    QImage image;
    if (!name.isEmpty() && !name.contains(QLatin1Char('/'))) image.load(QStringLiteral(":/vocalynx/") + name, "PNG");
    if (!image.isNull()) image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    cache.insert(name, image);
    return image;
}

}  // namespace vocalynx
