#include "platform/linux/QtImageDecoder.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <cstring>

namespace vocalynx {

namespace {
bool tooLarge(const QSize& size) {
    return qint64(size.width()) * size.height() > QtImageDecoder::maxSourcePixels;
}
}  // namespace

std::optional<RgbaImage> QtImageDecoder::decode(const QByteArray& bytes) const {
    if (bytes.isEmpty()) return std::nullopt;
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // The size the file states, read from its header: a small file may claim a picture of
    // gigabytes, which would be decoded, converted and copied in full.
    const QSize stated = reader.size();
    if (stated.isValid()) {
        if (stated.isEmpty() || tooLarge(stated)) return std::nullopt;
        if (std::max(stated.width(), stated.height()) > maxSide)
            reader.setScaledSize(stated.scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    }
    QImage decoded = reader.read();
    if (decoded.isNull() || decoded.width() <= 0 || decoded.height() <= 0 || tooLarge(decoded.size()))
        return std::nullopt;
    if (std::max(decoded.width(), decoded.height()) > maxSide)  // a format that states no size up front
        decoded = decoded.scaled(maxSide, maxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
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
