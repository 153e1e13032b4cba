#pragma once
// Conversion of captured sample buffers to the speech format: 16 kHz, mono, signed 16-bit
// little-endian, raw samples without a header.

#include <QByteArray>
#include <memory>
#include <optional>

#include "platform/AudioCapture.h"

namespace vocalynx {

// The layout of a captured buffer; a converter serves exactly one.
struct AudioInputFormat {
    SampleFormat format = SampleFormat::float32;
    double sampleRate = 0;
    int channelCount = 0;
    bool operator==(const AudioInputFormat&) const = default;

    static AudioInputFormat of(const SampleBuffer& buffer) {
        return {buffer.format, buffer.sampleRate, buffer.channelCount};
    }
};

inline constexpr double kSpeechSampleRate = 16000;
inline constexpr int kSpeechBytesPerFrame = 2;

// Converts a stream of buffers of one input format. It may keep state between buffers (filter
// history), so one converter follows one continuous stream.
class AudioConverter {
public:
    virtual ~AudioConverter() = default;
    virtual AudioInputFormat inputFormat() const = 0;
    // The converted samples of this buffer (16 kHz mono s16le), or none when it cannot be converted
    // or yields no output yet.
    virtual std::optional<QByteArray> convert(const SampleBuffer& buffer) = 0;
    // The end of the stream: the samples the converter still holds (the tail of its filter), or
    // none when it holds nothing. After it the converter starts a fresh stream.
    virtual std::optional<QByteArray> flush() { return std::nullopt; }
};

class AudioConverterFactory {
public:
    virtual ~AudioConverterFactory() = default;
    // A converter from the format to the speech format, or null when the format is not supported.
    virtual std::unique_ptr<AudioConverter> makeConverter(const AudioInputFormat& input) = 0;
};

}  // namespace vocalynx
