#include "platform/linux/SampleRateConverter.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <samplerate.h>

namespace vocalynx {

namespace {
// The fastest of libsamplerate's band-limited converters: its pass band covers speech with room to
// spare and it filters out what would alias below 8 kHz.
constexpr int kConverterType = SRC_SINC_FASTEST;
// Output room beyond the exact ratio, as the capacity rule of the capture pipeline has it.
constexpr long kExtraOutputFrames = 1024;

int bytesPerSample(SampleFormat format) { return format == SampleFormat::float32 ? 4 : 2; }
}  // namespace

std::unique_ptr<SampleRateConverter> SampleRateConverter::make(const AudioInputFormat& input) {
    if (input.channelCount < 1 || !(input.sampleRate > 0)) return nullptr;
    const double ratio = kSpeechSampleRate / input.sampleRate;
    if (input.sampleRate == kSpeechSampleRate) return std::unique_ptr<SampleRateConverter>(new SampleRateConverter(input, nullptr));
    if (!src_is_valid_ratio(ratio)) return nullptr;
    int error = 0;
    SRC_STATE* state = src_new(kConverterType, 1, &error);
    if (!state) return nullptr;
    return std::unique_ptr<SampleRateConverter>(new SampleRateConverter(input, state));
}

SampleRateConverter::SampleRateConverter(const AudioInputFormat& input, SRC_STATE_tag* state)
    : input_(input), state_(state), ratio_(kSpeechSampleRate / input.sampleRate) {}

SampleRateConverter::~SampleRateConverter() {
    if (state_) src_delete(state_);
}

std::optional<QByteArray> SampleRateConverter::convert(const SampleBuffer& buffer) {
    if (AudioInputFormat::of(buffer) != input_ || buffer.frameCount <= 0) return std::nullopt;
    const int channels = input_.channelCount;
    const qsizetype frameBytes = static_cast<qsizetype>(channels) * bytesPerSample(input_.format);
    // Only whole frames that are really there are read.
    const long frames = static_cast<long>(std::min<qsizetype>(buffer.frameCount, buffer.bytes.size() / frameBytes));
    if (frames <= 0) return std::nullopt;

    // Down-mix: the mean of the channels of each frame.
    mono_.resize(static_cast<size_t>(frames));
    const float scale = 1.0f / static_cast<float>(channels);
    if (input_.format == SampleFormat::float32) {
        const char* p = buffer.bytes.constData();
        for (long i = 0; i < frames; ++i) {
            float sum = 0;
            for (int c = 0; c < channels; ++c) {
                float v;
                std::memcpy(&v, p, sizeof v);
                p += sizeof v;
                sum += v;
            }
            mono_[static_cast<size_t>(i)] = sum * scale;
        }
    } else {
        const char* p = buffer.bytes.constData();
        const float intScale = scale / 32768.0f;
        for (long i = 0; i < frames; ++i) {
            int sum = 0;
            for (int c = 0; c < channels; ++c) {
                qint16 v;
                std::memcpy(&v, p, sizeof v);
                p += sizeof v;
                sum += v;
            }
            mono_[static_cast<size_t>(i)] = static_cast<float>(sum) * intScale;
        }
    }

    const float* out = mono_.data();
    long produced = frames;
    if (state_) {
        const long capacity = static_cast<long>(static_cast<double>(frames) * ratio_) + kExtraOutputFrames;
        resampled_.resize(static_cast<size_t>(capacity));
        SRC_DATA data{};
        data.data_in = mono_.data();
        data.input_frames = frames;
        data.data_out = resampled_.data();
        data.output_frames = capacity;
        data.end_of_input = 0;
        data.src_ratio = ratio_;
        if (src_process(state_, &data) != 0) return std::nullopt;
        out = resampled_.data();
        produced = data.output_frames_gen;
    }
    if (produced <= 0) return std::nullopt;

    QByteArray bytes(static_cast<qsizetype>(produced) * kSpeechBytesPerFrame, Qt::Uninitialized);
    auto* samples = reinterpret_cast<short*>(bytes.data());
    src_float_to_short_array(out, samples, static_cast<int>(produced));
    if constexpr (Q_BYTE_ORDER != Q_LITTLE_ENDIAN)
        for (long i = 0; i < produced; ++i) samples[i] = qToLittleEndian(samples[i]);
    return bytes;
}

}  // namespace vocalynx
