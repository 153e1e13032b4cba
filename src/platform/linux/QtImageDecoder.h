#pragma once
// Image decoding with QImage (every format Qt's image plug-ins read). The bytes come from other
// programs and servers (a player's artwork address, a download), so the picture is bounded: one
// whose size says more than maxSourcePixels is refused before it is decoded, and a larger side
// than maxSide is scaled down to it, keeping the aspect. The artwork is shown 46 points square.

#include "platform/ImageDecoder.h"

namespace vocalynx {

class QtImageDecoder final : public ImageDecoder {
public:
    static constexpr qint64 maxSourcePixels = 4096LL * 4096;
    static constexpr int maxSide = 640;

    std::optional<RgbaImage> decode(const QByteArray& bytes) const override;
};

}  // namespace vocalynx
