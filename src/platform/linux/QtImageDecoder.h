#pragma once
// Image decoding with QImage (every format Qt's image plug-ins read).

#include "platform/ImageDecoder.h"

namespace vocalynx {

class QtImageDecoder final : public ImageDecoder {
public:
    std::optional<RgbaImage> decode(const QByteArray& bytes) const override;
};

}  // namespace vocalynx
