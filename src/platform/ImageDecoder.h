#pragma once
// Decoded images as plain pixels, so that layers without a graphics library can hold them and
// compute with them; views turn them into their own image type.

#include <QByteArray>
#include <optional>

namespace vocalynx {

// Straight (not premultiplied) RGBA, 8 bits per channel, rows of width * 4 bytes, top row first.
// A view makes a QImage of it with QImage::Format_RGBA8888.
struct RgbaImage {
    int width = 0;
    int height = 0;
    QByteArray pixels;
    bool isEmpty() const { return width <= 0 || height <= 0; }
    bool operator==(const RgbaImage&) const = default;
};

class ImageDecoder {
public:
    virtual ~ImageDecoder() = default;
    // The image encoded in the bytes (PNG, JPEG, ...); none when they hold no image this decoder
    // reads. Thread-safe.
    virtual std::optional<RgbaImage> decode(const QByteArray& bytes) const = 0;
};

}  // namespace vocalynx
