#include <gtest/gtest.h>

#include "ToneAnalysis.h"
#include "platform/linux/SampleRateConverter.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// Converts one second of a tone in 10 ms buffers and returns the 16 kHz samples.
std::vector<float> convertTone(double frequency, double rate, int channels, SampleFormat format) {
    auto converter = SampleRateConverter::make({format, rate, channels});
    EXPECT_NE(converter, nullptr);
    if (!converter) return {};
    const int frames = static_cast<int>(rate / 100);
    QByteArray out;
    for (int i = 0; i < 100; ++i) {
        if (auto bytes = converter->convert(toneBuffer(frequency, frames, rate, channels, format, 1LL * i * frames)))
            out += *bytes;
    }
    return samplesFromS16(out);
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
        const std::vector<float> out = convertTone(1000, c.rate, c.channels, c.format);
        // One second at 16 kHz, short of at most what the filter still holds.
        EXPECT_LE(out.size(), 16000u);
        EXPECT_GE(out.size(), 15900u);
        EXPECT_NEAR(dominantFrequency(out, 16000), 1000, 2);
        // The amplitude survives: 0.5 peak is an rms of about 0.354.
        const std::vector<float> steady(out.begin() + 800, out.end());
        EXPECT_NEAR(rms(steady), 0.3536, 0.01);
    }
}

TEST(SampleRateConverterTest, ToneAboveTheNewNyquistIsFilteredOutNotFoldedDown) {
    // 10 kHz cannot exist at 16 kHz; without a low-pass filter it would come back as 6 kHz.
    const std::vector<float> out = convertTone(10000, 48000, 1, SampleFormat::float32);
    ASSERT_GT(out.size(), 1000u);
    EXPECT_LT(rms(std::vector<float>(out.begin() + 800, out.end())), 0.003);
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
