#pragma once
// The converter to the speech format over libsoxr: down-mix to mono, then one streaming resampler
// to 16 kHz kept for the whole stream, writing signed 16-bit samples.

#include <vector>

#include "platform/AudioConverter.h"

struct soxr;

namespace vocalynx {

class SampleRateConverter final : public AudioConverter {
public:
    // Null when the format cannot be converted (no channels, a rate the resampler cannot reach).
    static std::unique_ptr<SampleRateConverter> make(const AudioInputFormat& input);
    ~SampleRateConverter() override;

    AudioInputFormat inputFormat() const override { return input_; }
    std::optional<QByteArray> convert(const SampleBuffer& buffer) override;
    std::optional<QByteArray> flush() override;

private:
    SampleRateConverter(const AudioInputFormat& input, soxr* resampler);
    QByteArray resample(const float* mono, size_t frames);
    AudioInputFormat input_;
    soxr* resampler_;  // null when the input already runs at 16 kHz
    double ratio_;
    std::vector<float> mono_;
};

class SampleRateConverterFactory final : public AudioConverterFactory {
public:
    std::unique_ptr<AudioConverter> makeConverter(const AudioInputFormat& input) override {
        return SampleRateConverter::make(input);
    }
};

}  // namespace vocalynx
