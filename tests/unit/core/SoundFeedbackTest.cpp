#include <gtest/gtest.h>

#include <QtEndian>

#include "FakeSoundOutput.h"
#include "TestRuntime.h"
#include "core/SoundFeedback.h"

using namespace vocalynx;
using vocalynx::test::FakeSoundOutput;
using vocalynx::test::TestRuntime;

namespace {
int16_t sampleAt(const QByteArray& wav, int index) { return qFromLittleEndian<int16_t>(wav.constData() + 44 + 2 * index); }
uint32_t u32At(const QByteArray& wav, int offset) { return qFromLittleEndian<uint32_t>(wav.constData() + offset); }
uint16_t u16At(const QByteArray& wav, int offset) { return qFromLittleEndian<uint16_t>(wav.constData() + offset); }
}  // namespace

TEST(SoundFeedbackWav, HeaderOfTheConfirmCue) {
    const QByteArray wav = SoundFeedback::makeWAV(SoundFeedback::synthesize(SoundType::confirm));
    ASSERT_EQ(wav.size(), 44 + 8820);
    EXPECT_EQ(wav.left(4), "RIFF");
    EXPECT_EQ(u32At(wav, 4), 8856u);
    EXPECT_EQ(wav.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32At(wav, 16), 16u);
    EXPECT_EQ(u16At(wav, 20), 1);
    EXPECT_EQ(u16At(wav, 22), 1);
    EXPECT_EQ(u32At(wav, 24), 44100u);
    EXPECT_EQ(u32At(wav, 28), 88200u);
    EXPECT_EQ(u16At(wav, 32), 2);
    EXPECT_EQ(u16At(wav, 34), 16);
    EXPECT_EQ(wav.mid(36, 4), "data");
    EXPECT_EQ(u32At(wav, 40), 8820u);
}

TEST(SoundFeedbackWav, SamplesAreClampedAndTruncatedTowardZero) {
    const QByteArray wav = SoundFeedback::makeWAV({1.0f, -1.0f, 2.5f, -7.0f, 0.5f, -0.5f, 0.0f, 1e-6f});
    const int16_t expected[] = {32767, -32767, 32767, -32767, 16383, -16383, 0, 0};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(sampleAt(wav, i), expected[i]) << i;
    EXPECT_EQ(SoundFeedback::makeWAV({}).size(), 44);
}

TEST(SoundFeedbackSynthesis, LengthsNoteStartsAndSilence) {
    struct Note {
        size_t start, length;
    };
    struct Case {
        SoundType type;
        size_t total;
        std::vector<Note> notes;
        float peakGain;
    };
    const Case cases[] = {
        {SoundType::startRecording, 5292, {{0, 5292}}, 0.4f},
        {SoundType::stopRecording, 5292, {{0, 5292}}, 0.4f},
        {SoundType::confirm, 4410, {{0, 4410}}, 0.35f},
        {SoundType::cancel, 6615, {{0, 2646}, {3969, 2646}}, 0.35f},
        {SoundType::agentStart, 7938, {{0, 2646}, {2646, 2646}, {5292, 2646}}, 0.25f},
        {SoundType::agentComplete, 8820, {{0, 2205}, {2205, 2205}, {4410, 2205}, {6615, 2205}}, 0.3f},
        {SoundType::agentPermission, 9702, {{0, 3087}, {6615, 3087}}, 0.3f},
    };
    for (const auto& c : cases) {
        const auto samples = SoundFeedback::synthesize(c.type);
        ASSERT_EQ(samples.size(), c.total) << soundTypeName(c.type).toStdString();
        std::vector<bool> covered(c.total, false);
        float peak = 0;
        for (const auto& n : c.notes) {
            EXPECT_EQ(samples[n.start], 0.0f) << "first sample of a note";
            for (size_t i = n.start; i < n.start + n.length; ++i) covered[i] = true;
        }
        for (size_t i = 0; i < c.total; ++i) {
            if (!covered[i]) { EXPECT_EQ(samples[i], 0.0f) << i; }
            peak = std::max(peak, std::abs(samples[i]));
        }
        EXPECT_LE(peak, c.peakGain + 1e-6f);
        EXPECT_GT(peak, c.peakGain * 0.9f);
    }
}

TEST(SoundFeedbackSynthesis, SquareCuesUseTheSignOfTheSine) {
    // agentStart's first note: 523.25 Hz, gain 0.25. At the middle of the note the envelope is ~1,
    // so every sample there is +-0.25 * E, never in between.
    const auto samples = SoundFeedback::synthesize(SoundType::agentStart);
    const size_t mid = 1323;
    const double envelope = std::sin(M_PI * mid / 2646.0);
    EXPECT_NEAR(std::abs(samples[mid]), 0.25 * envelope, 1e-6);
}

TEST(SoundFeedbackSynthesis, SweepUsesInstantFrequencyTimesTime) {
    const auto samples = SoundFeedback::synthesize(SoundType::startRecording);
    const int n = 1000;
    const double t = n / 44100.0;
    const double p = t / 0.12;
    const double expected = std::sin(2 * M_PI * (880 + 440 * p) * t) * std::sin(M_PI * p) * 0.4;
    EXPECT_NEAR(samples[n], expected, 1e-6);
}

TEST(SoundFeedbackPlay, RestartsAndHonoursTheSwitch) {
    TestRuntime rt;
    ConfigStore config(rt.runtime());
    FakeSoundOutput output;
    SoundFeedback sounds(config, output);
    EXPECT_EQ(output.prepared.size(), 7u);
    sounds.play(SoundType::confirm);
    sounds.play(SoundType::confirm);
    EXPECT_EQ(output.calls, (QStringList{QStringLiteral("stop 3"), QStringLiteral("play 3"), QStringLiteral("stop 3"),
                                         QStringLiteral("play 3")}));
    config.setSoundEnabled(SoundType::confirm, false);
    output.calls.clear();
    sounds.play(SoundType::confirm);
    EXPECT_TRUE(output.calls.isEmpty());
}

TEST(SoundFeedbackPlay, ACueThatCannotBePreparedNeverPlays) {
    TestRuntime rt;
    ConfigStore config(rt.runtime());
    FakeSoundOutput output;
    output.refuse = 2;  // the second cue (stopRecording) fails to become a sound
    SoundFeedback sounds(config, output);
    sounds.play(SoundType::stopRecording);
    sounds.play(SoundType::cancel);
    EXPECT_EQ(output.calls, (QStringList{QStringLiteral("stop 4"), QStringLiteral("play 4")}));
}
