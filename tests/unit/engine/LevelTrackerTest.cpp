#include <gtest/gtest.h>

#include "engine/LevelTracker.h"

using namespace vocalynx;
using Kind = LevelTracker::Decision::Kind;

namespace {

// Feeds the tracker one buffer every 10 ms of virtual time, starting at the end of the warm-up.
class LevelRun {
public:
    LevelRun() : ready(MonoTime{} + seconds(100)), now(ready + seconds(LevelTracker::kWarmUp)) {}

    double elapsed() const { return secondsBetween(ready + seconds(LevelTracker::kWarmUp), now); }

    // Runs buffers of one level for the given seconds, stopping at the first decision.
    LevelTracker::Decision feed(float rms, double duration) {
        const MonoTime end = now + seconds(duration);
        while (now < end) {
            const LevelTracker::Decision d = tracker.evaluate(rms, now, ready, transcript);
            if (d.kind != Kind::none) return d;
            now = now + seconds(0.01);
        }
        return {};
    }

    LevelTracker tracker;
    TranscriptActivity transcript;
    MonoTime ready;
    MonoTime now;
};

}  // namespace

TEST(LevelTrackerTest, SmoothingStartsAtTheFirstLevelThenWeighsNewLevelsAt018) {
    LevelRun run;
    run.tracker.evaluate(0.02f, run.now, run.ready, {});
    EXPECT_FLOAT_EQ(run.tracker.smoothedRMS(), 0.02f);
    run.tracker.evaluate(0.0f, run.now, run.ready, {});
    EXPECT_FLOAT_EQ(run.tracker.smoothedRMS(), 0.0164f);
}

TEST(LevelTrackerTest, ThresholdsFollowTheFloor) {
    struct Case {
        float floor, silence, speech;
    } cases[] = {
        {0.01f, 0.016f, 0.028f},    // the multiples win
        {0.0015f, 0.0045f, 0.009f},  // the lowest floor: the fixed minimums win
        {0.003f, 0.0055f, 0.009f},  // the initial floor: the offsets decide the silence threshold
        {0.004f, 0.0065f, 0.0112f},
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(LevelTracker::silenceThreshold(c.floor), c.silence) << c.floor;
        EXPECT_FLOAT_EQ(LevelTracker::speechThreshold(c.floor), c.speech) << c.floor;
    }
}

TEST(LevelTrackerTest, NoiseFloorStepUsesTheGateOfTheFloorBeforeTheUpdate) {
    // Floor 0.01 gives a gate of 0.016: above it during speech the floor decays, at or below it
    // (or before speech) it follows the level.
    struct Case {
        bool speaking;
        float level, floor;
    } cases[] = {
        {true, 0.0161f, 0.995f * 0.01f},
        {true, 0.016f, 0.065f * 0.016f + 0.935f * 0.01f},
        {false, 0.05f, 0.065f * 0.05f + 0.935f * 0.01f},
        {false, 0.0f, 0.065f * 0.0005f + 0.935f * 0.01f},  // levels below 0.0005 count as 0.0005
    };
    for (const Case& c : cases) {
        LevelTracker tracker(0.01f);
        if (c.speaking) tracker.noteSpeechActivity(MonoTime{}, true);
        tracker.updateNoiseFloor(c.level);
        EXPECT_NEAR(tracker.adaptiveNoiseFloor(), c.floor, 1e-7) << c.speaking << " " << c.level;
    }
}

TEST(LevelTrackerTest, SteadyQuietPullsTheFloorDownToItsLowerBoundOnly) {
    LevelRun run;
    float previous = run.tracker.adaptiveNoiseFloor();
    for (int i = 0; i < 400; ++i) {
        run.tracker.evaluate(0.001f, run.now, run.ready, {});
        EXPECT_LE(run.tracker.adaptiveNoiseFloor(), previous);
        previous = run.tracker.adaptiveNoiseFloor();
    }
    EXPECT_FLOAT_EQ(run.tracker.adaptiveNoiseFloor(), 0.0015f);
    EXPECT_FLOAT_EQ(LevelTracker::silenceThreshold(run.tracker.adaptiveNoiseFloor()), 0.0045f);
    EXPECT_FLOAT_EQ(LevelTracker::speechThreshold(run.tracker.adaptiveNoiseFloor()), 0.009f);
}

TEST(LevelTrackerTest, WarmUpCoversUndecidedReadinessAndHalfASecondAfterIt) {
    const MonoTime ready = MonoTime{} + seconds(10);
    EXPECT_TRUE(LevelTracker::inWarmUp(std::nullopt, ready + seconds(60)));
    EXPECT_TRUE(LevelTracker::inWarmUp(ready, ready + seconds(0.49)));
    EXPECT_FALSE(LevelTracker::inWarmUp(ready, ready + seconds(0.5)));
}

TEST(LevelTrackerTest, NobodySpeaksCancelsFiveSecondsAfterReadiness) {
    LevelRun run;
    const auto d = run.feed(0.002f, 10);
    EXPECT_EQ(d.kind, Kind::cancel);
    EXPECT_NEAR(secondsBetween(run.ready, run.now), 5.0, 1e-9);
    EXPECT_FALSE(run.tracker.hasSpeechStarted());
}

TEST(LevelTrackerTest, WordsBelowTheSpeechThresholdCountAsSpeechFromTheirLastChange) {
    LevelRun run;
    run.transcript.hasText = true;
    run.transcript.lastUpdateAt = run.now + seconds(0.4);
    run.transcript.lastDistinctAt = run.now + seconds(0.3);
    EXPECT_EQ(run.feed(0.002f, 0.01).kind, Kind::none);
    EXPECT_TRUE(run.tracker.hasSpeechStarted());
    EXPECT_EQ(run.tracker.speechStartAt(), run.transcript.lastDistinctAt);
    EXPECT_EQ(run.tracker.lastSpeechDetectedAt(), run.transcript.lastDistinctAt);
    // No cancel at 5 s: the recording ends the way a spoken one does, after the hard stop.
    const auto d = run.feed(0.002f, 10);
    EXPECT_EQ(d.kind, Kind::stop);
    EXPECT_EQ(d.reason, QStringLiteral("hard timeout"));
    EXPECT_NEAR(secondsBetween(*run.transcript.lastDistinctAt, run.now), 1.7, 1e-9);
}

TEST(LevelTrackerTest, ShortSpeechEndsBySilenceBeforeTheHardStop) {
    LevelRun run;
    const MonoTime start = run.now;
    ASSERT_EQ(run.feed(0.1f, 0.1).kind, Kind::none);
    EXPECT_EQ(run.tracker.speechStartAt(), start);
    // Nothing ends before the minimum speech time, then the quiet stretch starts at 0.45 s.
    ASSERT_EQ(run.feed(0.0f, 0.45 - 0.1).kind, Kind::none);
    EXPECT_FALSE(run.tracker.silenceStart().has_value());
    const auto d = run.feed(0.0f, 5);
    EXPECT_EQ(d.kind, Kind::stop);
    EXPECT_EQ(d.reason, QStringLiteral("silence"));
    EXPECT_NEAR(secondsBetween(start, run.now), 1.7, 1e-9);
    // The hard stop was still ahead.
    EXPECT_LT(secondsBetween(*run.tracker.lastSpeechDetectedAt(), run.now), 1.7);
}

TEST(LevelTrackerTest, ATranscriptStillChangingHoldsOffTheSilenceStop) {
    LevelRun run;
    ASSERT_EQ(run.feed(0.1f, 0.5).kind, Kind::none);
    run.transcript.hasText = true;
    // The recogniser changes the preview every 0.3 s for 3 s while the level is quiet.
    const MonoTime quietFrom = run.now;
    while (secondsBetween(quietFrom, run.now) < 3.0) {
        run.transcript.lastUpdateAt = run.transcript.lastDistinctAt = run.now;
        ASSERT_EQ(run.feed(0.0f, 0.3).kind, Kind::none) << secondsBetween(quietFrom, run.now);
    }
    // Once it stands still the recording ends 1.7 s after the last change.
    const MonoTime lastChange = *run.transcript.lastDistinctAt;
    EXPECT_EQ(run.feed(0.0f, 5).kind, Kind::stop);
    EXPECT_NEAR(secondsBetween(lastChange, run.now), 1.7, 1e-9);
}

TEST(LevelTrackerTest, AStableTranscriptEndsBeforeTheSilenceTime) {
    LevelRun run;
    ASSERT_EQ(run.feed(0.1f, 0.5).kind, Kind::none);
    run.transcript.hasText = true;
    run.transcript.lastUpdateAt = run.transcript.lastDistinctAt = run.now;
    run.transcript.stablePreviewCount = 3;
    const MonoTime change = run.now;
    const auto d = run.feed(0.0f, 5);
    EXPECT_EQ(d.kind, Kind::stop);
    EXPECT_EQ(d.reason, QStringLiteral("stable preview"));
    // The first quiet buffer at least 0.45 s after the change, once the level fell below the
    // silence threshold.
    EXPECT_GE(secondsBetween(change, run.now), 0.45 - 1e-9);
    EXPECT_LT(secondsBetween(change, run.now), 1.25);

    // Two unchanged lines are not enough: the silence rule decides.
    LevelRun two;
    ASSERT_EQ(two.feed(0.1f, 0.5).kind, Kind::none);
    two.transcript.hasText = true;
    two.transcript.lastUpdateAt = two.transcript.lastDistinctAt = two.now;
    two.transcript.stablePreviewCount = 2;
    EXPECT_EQ(two.feed(0.0f, 5).reason, QStringLiteral("silence"));
}

TEST(LevelTrackerTest, LoudBackgroundNeverEndsBySilenceButByTheHardStop) {
    LevelRun run;
    // A quiet room first, so that the floor sits low when the speaker starts.
    ASSERT_EQ(run.feed(0.001f, 1.0).kind, Kind::none);
    ASSERT_EQ(run.feed(0.1f, 0.5).kind, Kind::none);
    // Then a background between the thresholds: above the gate, so the floor keeps decaying and the
    // silence threshold stays below it, yet under the speech threshold of 0.009.
    const auto d = run.feed(0.007f, 10);
    EXPECT_EQ(d.kind, Kind::stop);
    EXPECT_EQ(d.reason, QStringLiteral("hard timeout"));
    EXPECT_FALSE(run.tracker.silenceStart().has_value());
    EXPECT_NEAR(secondsBetween(*run.tracker.lastSpeechDetectedAt(), run.now), 1.7, 1e-9);
}

TEST(LevelTrackerTest, RequestsAndStartResetTheTracking) {
    LevelRun run;
    ASSERT_EQ(run.feed(0.1f, 0.6).kind, Kind::none);
    run.feed(0.0f, 0.3);
    ASSERT_TRUE(run.tracker.silenceStart().has_value());

    run.tracker.resetSpeech();
    EXPECT_FALSE(run.tracker.hasSpeechStarted());
    EXPECT_FALSE(run.tracker.speechStartAt() || run.tracker.silenceStart());
    EXPECT_GT(run.tracker.smoothedRMS(), 0);  // the level itself carries on

    run.tracker.reset();
    EXPECT_EQ(run.tracker.smoothedRMS(), 0);
    EXPECT_FLOAT_EQ(run.tracker.adaptiveNoiseFloor(), 0.003f);
    EXPECT_FALSE(run.tracker.lastSpeechDetectedAt().has_value());
}

TEST(LevelTrackerTest, SpeechActivityNeedsTranscriptText) {
    LevelTracker tracker;
    const MonoTime t = MonoTime{} + seconds(3);
    tracker.noteSpeechActivity(t, false);
    EXPECT_FALSE(tracker.hasSpeechStarted());
    tracker.noteSpeechActivity(t, true);
    tracker.noteSpeechActivity(t + seconds(1), true);
    EXPECT_EQ(tracker.speechStartAt(), t);
    EXPECT_EQ(tracker.lastSpeechDetectedAt(), t + seconds(1));
}
