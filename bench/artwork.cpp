// Measures the artwork steps that run per track: decoding a 600-pixel JPEG cover (done on the main
// thread when a reading is published) and the accent colour over its pixels (a worker thread).

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <cstdio>

#include "gestures/AlbumArtwork.h"
#include "platform/linux/QtImageDecoder.h"

using namespace vocalynx;

int main() {
    QImage cover(600, 600, QImage::Format_RGB32);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 600; ++x) cover.setPixel(x, y, qRgb(x * 255 / 599, y * 255 / 599, (x ^ y) & 0xff));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    cover.save(&buffer, "JPEG", 90);

    const QtImageDecoder decoder;
    constexpr int rounds = 50;
    QElapsedTimer timer;
    std::optional<RgbaImage> image;
    timer.start();
    for (int i = 0; i < rounds; ++i) image = decoder.decode(jpeg);
    const double decodeMs = double(timer.nsecsElapsed()) / 1e6 / rounds;
    if (!image) {
        std::fprintf(stderr, "the cover did not decode\n");
        return 1;
    }
    std::optional<AccentColor> color;
    timer.restart();
    for (int i = 0; i < rounds; ++i) color = accentColor(*image);
    const double accentMs = double(timer.nsecsElapsed()) / 1e6 / rounds;
    std::printf("600x600 JPEG cover (%lld bytes): decode %.2f ms, accent colour %.2f ms, pixels %lld bytes\n",
                static_cast<long long>(jpeg.size()), decodeMs, accentMs, static_cast<long long>(image->pixels.size()));
    return color ? 0 : 1;
}
