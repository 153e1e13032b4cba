#include <gtest/gtest.h>

#include <cmath>

#include "ToneAnalysis.h"
#include "platform/linux/SampleRateConverter.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// Converts one second of a tone in 10 ms buffers and returns the 16 kHz samples; with flush, also
// what the filter holds at the end of the stream.
std::vector<float> convertTone(double frequency, double rate, int channels, SampleFormat format, bool flush = false) {
    auto converter = SampleRateConverter::make({format, rate, channels});
    EXPECT_NE(converter, nullptr);
    if (!converter) return {};
    const int frames = static_cast<int>(rate / 100);
    QByteArray out;
    for (int i = 0; i < 100; ++i) {
        if (auto bytes = converter->convert(toneBuffer(frequency, frames, rate, channels, format, 1LL * i * frames)))
            out += *bytes;
    }
    if (flush)
        if (auto bytes = converter->flush()) out += *bytes;
    return samplesFromS16(out);
}

double decibels(double ratio) { return 20 * std::log10(ratio); }

// The level of the converted tone's steady part (after the filter's start-up).
double steadyLevel(double frequency, double rate) {
    const std::vector<float> out = convertTone(frequency, rate, 1, SampleFormat::float32);
    if (out.size() < 1000) return 0;
    return rms(std::vector<float>(out.begin() + 800, out.end()));
}

}  // namespace

TEST(SampleRateConverterTest, ToneKeepsItsPitchAndLengthAcrossFormats) {
    struct Case {
        double rate;
        int channels;
        SampleFormat format;
    } cases[] = {
        {48000, 2, SampleFormat::float32}, {44100, 1, SampleFormat::float32}, {48000, 1, SampleFormat::int16},
        {16000, 1, SampleFormat::int16},   {96000, 4, SampleFormat::float32}, {22050, 2, SampleFormat::int16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " ch, "
                                        << (c.format == SampleFormat::float32 ? "float" : "s16"));
        const std::vector<float> out = convertTone(1000, c.rate, c.channels, c.format, true);
        // The input's length at 16 kHz (one second, less what 10 ms buffers of whole frames leave
        // out at 22.05 kHz), to the sample, once the stream's end has flushed the filter.
        const double inputFrames = 100 * std::floor(c.rate / 100);
        EXPECT_EQ(out.size(), size_t(std::lround(inputFrames * 16000 / c.rate)));
        EXPECT_NEAR(dominantFrequency(out, 16000), 1000, 2);
        // The amplitude survives: 0.5 peak is an rms of about 0.354.
        const std::vector<float> steady(out.begin() + 800, out.end() - 800);
        EXPECT_NEAR(rms(steady), 0.3536, 0.01);
    }
}

TEST(SampleRateConverterTest, ToneAboveTheNewNyquistIsFilteredOutNotFoldedDown) {
    // 10 kHz cannot exist at 16 kHz; without a low-pass filter it would come back as 6 kHz.
    const std::vector<float> out = convertTone(10000, 48000, 1, SampleFormat::float32);
    ASSERT_GT(out.size(), 1000u);
    EXPECT_LT(rms(std::vector<float>(out.begin() + 800, out.end())), 0.003);
}

TEST(SampleRateConverterTest, SpeechBandIsFlatUpTo7kHz) {
    // Consonants carry energy up to 7 kHz; a filter that starts rolling off at 6 kHz loses them.
    struct Case {
        double rate;
        double frequency;
    } cases[] = {{48000, 4000}, {48000, 6500}, {48000, 7000}, {44100, 7000}, {96000, 7000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frequency << " Hz from " << c.rate << " Hz");
        const double reference = steadyLevel(1000, c.rate);
        ASSERT_GT(reference, 0);
        EXPECT_NEAR(decibels(steadyLevel(c.frequency, c.rate) / reference), 0, 1);
    }
}

TEST(SampleRateConverterTest, FlushDeliversWhatTheFilterStillHolds) {
    auto converter = SampleRateConverter::make({SampleFormat::float32, 48000, 2});
    ASSERT_NE(converter, nullptr);
    // Silence, then a last 20 ms burst of tone right at the end of the stream (the last syllable).
    QByteArray out;
    for (int i = 0; i < 48; ++i)
        if (auto bytes = converter->convert(toneBuffer(0, 480, 48000, 2, SampleFormat::float32))) out += *bytes;
    for (int i = 0; i < 2; ++i)
        if (auto bytes = converter->convert(toneBuffer(1000, 480, 48000, 2, SampleFormat::float32, 480LL * i)))
            out += *bytes;
    const qsizetype converted = out.size() / 2;
    const std::optional<QByteArray> tail = converter->flush();
    ASSERT_TRUE(tail.has_value());
    out += *tail;
    // Half a second in, half a second out, to the sample; the burst's end is in the tail.
    EXPECT_EQ(out.size() / 2, 8000);
    EXPECT_GT(rms(samplesFromS16(*tail)), 0.1);
    EXPECT_LT(converted, 8000);

    // After the flush the converter starts a fresh stream: the same input gives the same output
    // as a new converter, and a second flush of nothing gives nothing more.
    auto fresh = SampleRateConverter::make({SampleFormat::float32, 48000, 2});
    const SampleBuffer tone = toneBuffer(1000, 4800, 48000, 2, SampleFormat::float32);
    EXPECT_EQ(converter->convert(tone), fresh->convert(tone));
    EXPECT_EQ(converter->flush(), fresh->flush());
    EXPECT_EQ(converter->flush(), std::nullopt);
    // A converter that does not resample holds nothing.
    EXPECT_EQ(SampleRateConverter::make({SampleFormat::int16, 16000, 1})->flush(), std::nullopt);
}

TEST(SampleRateConverterTest, ChannelsAreAveraged) {
    // Left and right in opposite phase cancel; one silent channel halves the level.
    auto converter = SampleRateConverter::make({SampleFormat::float32, 16000, 2});
    ASSERT_NE(converter, nullptr);
    SampleBuffer b = toneBuffer(1000, 160, 16000, 2, SampleFormat::float32);
    auto* p = reinterpret_cast<float*>(b.bytes.data());
    for (int i = 0; i < 160; ++i) p[2 * i + 1] = -p[2 * i];
    auto out = converter->convert(b);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(rms(samplesFromS16(*out)), 0);
    for (int i = 0; i < 160; ++i) p[2 * i + 1] = 0;
    out = converter->convert(b);
    ASSERT_TRUE(out.has_value());
    EXPECT_NEAR(rms(samplesFromS16(*out)), 0.3536 / 2, 0.005);
}

TEST(SampleRateConverterTest, FullScaleIsClippedNotWrapped) {
    auto converter = SampleRateConverter::make({SampleFormat::float32, 16000, 1});
    ASSERT_NE(converter, nullptr);
    SampleBuffer b = toneBuffer(0, 4, 16000, 1, SampleFormat::float32);
    const float values[] = {1.5f, -1.5f, 1.0f, -1.0f};
    std::memcpy(b.bytes.data(), values, sizeof values);
    const QByteArray out = converter->convert(b).value_or(QByteArray());
    ASSERT_EQ(out.size(), 8);
    const auto* s = reinterpret_cast<const qint16*>(out.constData());
    EXPECT_EQ(s[0], 32767);
    EXPECT_EQ(s[1], -32768);
    EXPECT_EQ(s[2], 32767);
    EXPECT_EQ(s[3], -32768);
}

TEST(SampleRateConverterTest, RefusesWhatItCannotConvert) {
    EXPECT_EQ(SampleRateConverter::make({SampleFormat::float32, 0, 2}), nullptr);
    EXPECT_EQ(SampleRateConverter::make({SampleFormat::float32, 48000, 0}), nullptr);
    EXPECT_EQ(SampleRateConverter::make({SampleFormat::float32, 16000.0 * 1000, 1}), nullptr);

    auto converter = SampleRateConverter::make({SampleFormat::float32, 48000, 2});
    ASSERT_NE(converter, nullptr);
    // A buffer of another format, or one whose bytes fall short of a frame.
    EXPECT_EQ(converter->convert(toneBuffer(1000, 480, 44100, 2, SampleFormat::float32)), std::nullopt);
    SampleBuffer shortBuffer = toneBuffer(1000, 480, 48000, 2, SampleFormat::float32);
    shortBuffer.bytes.truncate(7);
    EXPECT_EQ(converter->convert(shortBuffer), std::nullopt);
    // A frame count larger than the bytes reads only the frames present.
    SampleBuffer overstated = toneBuffer(1000, 4800, 48000, 2, SampleFormat::float32);
    overstated.frameCount = 48000;
    const auto out = converter->convert(overstated);
    ASSERT_TRUE(out.has_value());
    EXPECT_LE(out->size(), 1600 * 2);
}
