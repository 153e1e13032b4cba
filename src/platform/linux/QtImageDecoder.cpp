#include "platform/linux/QtImageDecoder.h"

#include <QImage>
#include <cstring>

namespace vocalynx {

std::optional<RgbaImage> QtImageDecoder::decode(const QByteArray& bytes) const {
    if (bytes.isEmpty()) return std::nullopt;
    const QImage decoded = QImage::fromData(bytes);
    if (decoded.isNull() || decoded.width() <= 0 || decoded.height() <= 0) return std::nullopt;
    // Straight RGBA8 with the file's colour values as they are: no colour-space conversion.
    const QImage rgba = decoded.convertToFormat(QImage::Format_RGBA8888);
    RgbaImage image{rgba.width(), rgba.height(), QByteArray()};
    const qsizetype rowBytes = qsizetype(rgba.width()) * 4;
    image.pixels.resize(rowBytes * rgba.height());
    for (int y = 0; y < rgba.height(); ++y)
        std::memcpy(image.pixels.data() + rowBytes * y, rgba.constScanLine(y), size_t(rowBytes));
    return image;
}

}  // namespace vocalynx
