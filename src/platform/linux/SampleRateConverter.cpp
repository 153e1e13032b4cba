#include "platform/linux/SampleRateConverter.h"

#include <soxr.h>

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace vocalynx {

namespace {
// libsoxr's medium-quality recipe: a linear-phase filter flat to within a fraction of a decibel up to
// about 7.3 kHz of the 8 kHz the speech format can carry (consonants reach 7 kHz), which takes what
// lies above 8 kHz down by about 100 dB or more before it could fold back into the band.
constexpr unsigned long kQualityRecipe = SOXR_MQ;
// The filter works on blocks of 256 samples: each 10 ms buffer then gives about 10 ms of output and
// the filter holds about 15 ms (with libsoxr's default of larger blocks, output comes in 35 ms
// bursts, for a little more speed).
constexpr unsigned kLog2DftSize = 8;
// The span of rates the resampler is asked to bridge (a factor of 256 either way).
constexpr double kMaxRatio = 256;
// The filter's output for its whole history is a few hundred samples; the flush asks for it in
// portions of this size.
constexpr size_t kFlushPortion = 1024;

int bytesPerSample(SampleFormat format) { return format == SampleFormat::float32 ? 4 : 2; }

// Rounds to the nearest 16-bit value, clipping what lies beyond full scale.
qint16 toS16(float v) {
    const float scaled = std::nearbyint(v * 32768.0f);
    return static_cast<qint16>(std::clamp(scaled, -32768.0f, 32767.0f));
}

void toLittleEndian(QByteArray& bytes) {
    if constexpr (Q_BYTE_ORDER != Q_LITTLE_ENDIAN) {
        auto* s = reinterpret_cast<qint16*>(bytes.data());
        for (qsizetype i = 0; i < bytes.size() / 2; ++i) s[i] = qToLittleEndian(s[i]);
    }
}
}  // namespace

std::unique_ptr<SampleRateConverter> SampleRateConverter::make(const AudioInputFormat& input) {
    if (input.channelCount < 1 || !(input.sampleRate > 0)) return nullptr;
    if (input.sampleRate == kSpeechSampleRate) return std::unique_ptr<SampleRateConverter>(new SampleRateConverter(input, nullptr));
    const double ratio = kSpeechSampleRate / input.sampleRate;
    if (ratio > kMaxRatio || ratio < 1 / kMaxRatio) return nullptr;
    // Mono float in (after the down-mix), 16-bit out without dither, so that digital silence stays
    // silence; one thread, since the conversion runs on the audio queue's own thread.
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_INT16_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(kQualityRecipe, 0);
    soxr_io_spec_t undithered = io;
    undithered.flags |= SOXR_NO_DITHER;
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_min_dft_size = kLog2DftSize;
    runtime.log2_large_dft_size = kLog2DftSize;
    soxr_error_t error = nullptr;
    soxr_t resampler = soxr_create(input.sampleRate, kSpeechSampleRate, 1, &error, &undithered, &quality, &runtime);
    if (error || !resampler) {
        if (resampler) soxr_delete(resampler);
        return nullptr;
    }
    return std::unique_ptr<SampleRateConverter>(new SampleRateConverter(input, resampler));
}

SampleRateConverter::SampleRateConverter(const AudioInputFormat& input, soxr* resampler)
    : input_(input), resampler_(resampler), ratio_(kSpeechSampleRate / input.sampleRate) {}

SampleRateConverter::~SampleRateConverter() {
    if (resampler_) soxr_delete(resampler_);
}

std::optional<QByteArray> SampleRateConverter::convert(const SampleBuffer& buffer) {
    if (AudioInputFormat::of(buffer) != input_ || buffer.frameCount <= 0) return std::nullopt;
    const int channels = input_.channelCount;
    const qsizetype frameBytes = static_cast<qsizetype>(channels) * bytesPerSample(input_.format);
    // Only whole frames that are really there are read.
    const qsizetype frames = std::min<qsizetype>(buffer.frameCount, buffer.bytes.size() / frameBytes);
    if (frames <= 0) return std::nullopt;

    // Down-mix: the mean of the channels of each frame.
    mono_.resize(static_cast<size_t>(frames));
    const float scale = 1.0f / static_cast<float>(channels);
    const char* p = buffer.bytes.constData();
    if (input_.format == SampleFormat::float32 && channels == 2) {
        // The common case (a stereo device), in one pass the compiler can vectorise.
        for (qsizetype i = 0; i < frames; ++i) {
            float frame[2];
            std::memcpy(frame, p + i * 8, sizeof frame);
            mono_[static_cast<size_t>(i)] = (frame[0] + frame[1]) * 0.5f;
        }
    } else if (input_.format == SampleFormat::float32) {
        for (qsizetype i = 0; i < frames; ++i) {
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
        const float intScale = scale / 32768.0f;
        for (qsizetype i = 0; i < frames; ++i) {
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

    QByteArray bytes;
    if (resampler_) {
        bytes = resample(mono_.data(), static_cast<size_t>(frames));
    } else {
        bytes = QByteArray(frames * kSpeechBytesPerFrame, Qt::Uninitialized);
        auto* s = reinterpret_cast<qint16*>(bytes.data());
        for (qsizetype i = 0; i < frames; ++i) s[i] = toS16(mono_[static_cast<size_t>(i)]);
        toLittleEndian(bytes);
    }
    if (bytes.isEmpty()) return std::nullopt;
    return bytes;
}

// Feeds the frames to the resampler and collects all it gives back; with no frames, the end of
// the stream, which drains the filter.
QByteArray SampleRateConverter::resample(const float* mono, size_t frames) {
    const bool end = mono == nullptr;
    // Room for the exact ratio and what the filter may release on top; an end-of-stream call is
    // repeated until the filter is empty.
    const size_t room = end ? kFlushPortion : static_cast<size_t>(std::ceil(double(frames) * ratio_)) + 16;
    QByteArray out(static_cast<qsizetype>(room) * kSpeechBytesPerFrame, Qt::Uninitialized);
    qsizetype filled = 0;
    size_t consumed = 0;
    for (;;) {
        size_t used = 0, produced = 0;
        const soxr_error_t error = soxr_process(resampler_, end ? nullptr : mono + consumed, frames - consumed, &used,
                                                out.data() + filled * kSpeechBytesPerFrame, room, &produced);
        if (error) return {};
        filled += static_cast<qsizetype>(produced);
        consumed += used;
        // Input taken whole and the output not full: nothing more comes out of this call.
        if (consumed >= frames && produced < room) break;
        out.resize((filled + static_cast<qsizetype>(room)) * kSpeechBytesPerFrame);
    }
    out.truncate(filled * kSpeechBytesPerFrame);
    toLittleEndian(out);
    return out;
}

std::optional<QByteArray> SampleRateConverter::flush() {
    if (!resampler_) return std::nullopt;
    QByteArray tail = resample(nullptr, 0);
    // A fresh stream after the end, with the same settings.
    soxr_clear(resampler_);
    if (tail.isEmpty()) return std::nullopt;
    return tail;
}

}  // namespace vocalynx
