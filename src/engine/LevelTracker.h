#pragma once
// Level tracking of a running recording: a smoothed level, an adaptive noise floor and the
// thresholds derived from it, and the decision to end the recording after a pause in speech, when
// the transcript has settled, after a longer stretch without activity, or to cancel it when nobody
// speaks. Pure logic: the engine feeds it levels, times and what the transcript does, under its lock.

#include <QString>
#include <optional>

#include "platform/Clock.h"

namespace vocalynx {

// What the transcript handler has recorded, as the level evaluation sees it.
struct TranscriptActivity {
    bool hasText = false;  // the preview or the last meaningful transcript holds words
    std::optional<MonoTime> lastUpdateAt;
    std::optional<MonoTime> lastDistinctAt;
    int stablePreviewCount = 0;
};

class LevelTracker {
public:
    struct Decision {
        enum class Kind { none, stop, cancel };
        Kind kind = Kind::none;
        QString reason;  // stops only: "silence", "stable preview", "hard timeout"
        bool operator==(const Decision&) const = default;
    };

    static constexpr double kWarmUp = 0.5;
    static constexpr float kSmoothing = 0.18f;
    static constexpr float kLowestFloorInput = 0.0005f;
    static constexpr float kFloorUpdate = 0.065f;
    static constexpr float kFloorDecayDuringSpeech = 0.995f;
    static constexpr float kLowestFloor = 0.0015f;
    static constexpr float kInitialFloor = 0.003f;
    static constexpr double kNoSpeechLimit = 5.0;
    static constexpr double kMinimumSpeech = 0.45;
    static constexpr double kHardStop = 1.7;
    static constexpr int kStableLines = 3;
    static constexpr double kSettle = 0.45;
    static constexpr double kSilence = 1.25;

    LevelTracker() = default;
    // Starts from another noise floor (a tracker picking up a known background).
    explicit LevelTracker(float noiseFloor) : adaptiveNoiseFloor_(noiseFloor) {}

    // The gate and the silence threshold share one rule; the speech threshold is higher.
    static float silenceThreshold(float floor);
    static float speechThreshold(float floor);

    // True while buffers are not to be measured: readiness undecided, or within the warm-up after it.
    static bool inWarmUp(std::optional<MonoTime> micReadyAt, MonoTime now);

    // One evaluation of a measured buffer taken past the warm-up; updates the tracking and says
    // whether the recording ends.
    Decision evaluate(float rms, MonoTime now, MonoTime micReadyAt, const TranscriptActivity& transcript);

    // The noise-floor step of the evaluation on its own: feeds the level (already smoothed).
    void updateNoiseFloor(float level);

    // A transcript line changed the preview (or words were heard without a level): speech activity.
    void noteSpeechActivity(MonoTime at, bool hasTranscriptText);

    // What a stop or cancel request resets on the spot: the tracking returns to "not started".
    void resetSpeech();
    // What start and stop reset: everything, the floor back to its initial value.
    void reset();

    float smoothedRMS() const { return smoothedRMS_; }
    float adaptiveNoiseFloor() const { return adaptiveNoiseFloor_; }
    bool hasSpeechStarted() const { return hasSpeechStarted_; }
    std::optional<MonoTime> speechStartAt() const { return speechStartAt_; }
    std::optional<MonoTime> lastSpeechDetectedAt() const { return lastSpeechDetectedAt_; }
    std::optional<MonoTime> silenceStart() const { return silenceStart_; }

private:
    std::optional<MonoTime> silenceStart_;
    bool hasSpeechStarted_ = false;
    std::optional<MonoTime> speechStartAt_;
    std::optional<MonoTime> lastSpeechDetectedAt_;
    float smoothedRMS_ = 0;
    float adaptiveNoiseFloor_ = kInitialFloor;
};

}  // namespace vocalynx
