#pragma once
// The converter to the speech format over libsamplerate: down-mix to mono, then a stateful
// band-limited resampler to 16 kHz, then signed 16-bit samples.

#include <vector>

#include "platform/AudioConverter.h"

struct SRC_STATE_tag;

namespace vocalynx {

class SampleRateConverter final : public AudioConverter {
public:
    // Null when the format cannot be converted (no channels, a rate libsamplerate cannot reach).
    static std::unique_ptr<SampleRateConverter> make(const AudioInputFormat& input);
    ~SampleRateConverter() override;

    AudioInputFormat inputFormat() const override { return input_; }
    std::optional<QByteArray> convert(const SampleBuffer& buffer) override;

private:
    SampleRateConverter(const AudioInputFormat& input, SRC_STATE_tag* state);
    AudioInputFormat input_;
    SRC_STATE_tag* state_;  // null when the input already runs at 16 kHz
    double ratio_;
    std::vector<float> mono_;
    std::vector<float> resampled_;
};

class SampleRateConverterFactory final : public AudioConverterFactory {
public:
    std::unique_ptr<AudioConverter> makeConverter(const AudioInputFormat& input) override {
        return SampleRateConverter::make(input);
    }
};

}  // namespace vocalynx
