#include "engine/LevelTracker.h"

#include <algorithm>

namespace vocalynx {

namespace {
bool atLeast(MonoTime now, MonoTime since, double secondsValue) { return secondsBetween(since, now) >= secondsValue; }
}  // namespace

float LevelTracker::silenceThreshold(float floor) { return std::max({0.0045f, 1.6f * floor, floor + 0.0025f}); }

float LevelTracker::speechThreshold(float floor) { return std::max({0.009f, 2.8f * floor, floor + 0.006f}); }

bool LevelTracker::inWarmUp(std::optional<MonoTime> micReadyAt, MonoTime now) {
    return !micReadyAt || secondsBetween(*micReadyAt, now) < kWarmUp;
}

void LevelTracker::updateNoiseFloor(float smoothed) {
    const float floor = adaptiveNoiseFloor_;
    const float level = std::max(smoothed, kLowestFloorInput);
    const float gate = silenceThreshold(floor);
    float next;
    if (hasSpeechStarted_ && level > gate)
        next = kFloorDecayDuringSpeech * floor;
    else
        next = kFloorUpdate * level + (1.0f - kFloorUpdate) * floor;
    adaptiveNoiseFloor_ = std::max(next, kLowestFloor);
}

LevelTracker::Decision LevelTracker::evaluate(float rms, MonoTime now, MonoTime micReadyAt,
                                              const TranscriptActivity& transcript) {
    smoothedRMS_ = smoothedRMS_ == 0 ? rms : kSmoothing * rms + (1.0f - kSmoothing) * smoothedRMS_;
    updateNoiseFloor(smoothedRMS_);
    const float silence = silenceThreshold(adaptiveNoiseFloor_);
    const float speech = speechThreshold(adaptiveNoiseFloor_);

    if (smoothedRMS_ >= speech) {
        lastSpeechDetectedAt_ = now;
        if (!hasSpeechStarted_) {
            hasSpeechStarted_ = true;
            speechStartAt_ = now;
        }
        silenceStart_.reset();
        return {};
    }

    if (!hasSpeechStarted_) {
        if (transcript.hasText) {
            // The recogniser heard words although the level never reached the speech threshold.
            noteSpeechActivity(transcript.lastDistinctAt ? *transcript.lastDistinctAt
                                                         : transcript.lastUpdateAt ? *transcript.lastUpdateAt : now,
                               true);
            return {};
        }
        if (atLeast(now, micReadyAt, kNoSpeechLimit)) return {Decision::Kind::cancel, {}};
        return {};
    }

    if (!speechStartAt_ || !atLeast(now, *speechStartAt_, kMinimumSpeech)) return {};

    std::optional<MonoTime> lastActivity = lastSpeechDetectedAt_;
    if (transcript.lastDistinctAt && (!lastActivity || *transcript.lastDistinctAt > *lastActivity))
        lastActivity = transcript.lastDistinctAt;
    if (lastActivity && atLeast(now, *lastActivity, kHardStop)) return {Decision::Kind::stop, QStringLiteral("hard timeout")};

    if (transcript.stablePreviewCount >= kStableLines && transcript.lastDistinctAt &&
        atLeast(now, *transcript.lastDistinctAt, kSettle) && smoothedRMS_ <= silence)
        return {Decision::Kind::stop, QStringLiteral("stable preview")};

    if (transcript.lastUpdateAt && !atLeast(now, *transcript.lastUpdateAt, kSettle)) {
        silenceStart_.reset();
        return {};
    }
    if (smoothedRMS_ > silence) {
        silenceStart_.reset();
        return {};
    }
    if (!silenceStart_) {
        silenceStart_ = now;
        return {};
    }
    if (atLeast(now, *silenceStart_, kSilence)) return {Decision::Kind::stop, QStringLiteral("silence")};
    return {};
}

void LevelTracker::noteSpeechActivity(MonoTime at, bool hasTranscriptText) {
    if (!hasTranscriptText) return;
    lastSpeechDetectedAt_ = at;
    silenceStart_.reset();
    if (!hasSpeechStarted_) {
        hasSpeechStarted_ = true;
        speechStartAt_ = at;
    }
}

void LevelTracker::resetSpeech() {
    hasSpeechStarted_ = false;
    speechStartAt_.reset();
    silenceStart_.reset();
}

void LevelTracker::reset() {
    resetSpeech();
    lastSpeechDetectedAt_.reset();
    smoothedRMS_ = 0;
    adaptiveNoiseFloor_ = kInitialFloor;
}

}  // namespace vocalynx
