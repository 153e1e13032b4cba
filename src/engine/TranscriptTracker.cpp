#include "engine/TranscriptTracker.h"

#include "engine/TranscriptRules.h"

namespace vocalynx {

TranscriptTracker::Outcome TranscriptTracker::handleTranscript(const QString& text, const QString& stopPhrase,
                                                               std::optional<MonoTime> micReadyAt, MonoTime now,
                                                               int tailJitterTolerance) {
    Outcome out;
    if (transcript::shouldIgnoreEarlyTranscript(text, micReadyAt, now)) {
        out.ignored = true;
        return out;
    }
    std::lock_guard lock(mutex_);
    const std::optional<QString> strippedSegment = transcript::stripVoiceStopPhrase(text, stopPhrase);
    updateFinalLocked(text, strippedSegment);
    // After a process change the preview rules judge the whole recording: earlier text and this one.
    const bool joined = !earlierSegments_.isEmpty();
    const QString whole = joined ? transcript::joinRecognisedText(earlierSegments_, text) : text;
    const bool distinct = transcript::isDistinctTranscript(lastMeaningfulTranscript_, whole, recentTranscriptVariants_,
                                                           tailJitterTolerance);
    const bool same = whole == previewText_;
    recordVariantLocked(whole);
    const auto accept = [&](const QString& preview) {
        previewText_ = preview;
        lastTranscriptUpdateAt_ = lastDistinctTranscriptAt_ = now;
        lastMeaningfulTranscript_ = preview;
        stablePreviewCount_ = 0;
        out.previewChanged = true;
        out.preview = preview;
        out.speechActivity = true;
    };
    if (strippedSegment) {
        accept(joined ? transcript::joinRecognisedText(earlierSegments_, *strippedSegment) : *strippedSegment);
        out.stopPhraseHeard = true;
    } else if (!same && distinct) {
        accept(whole);
    } else {
        ++stablePreviewCount_;
    }
    return out;
}

void TranscriptTracker::updateFinalLocked(const QString& text, const std::optional<QString>& strippedOfStopPhrase) {
    if (strippedOfStopPhrase) {
        segmentFinal_ = *strippedOfStopPhrase;
        stopPhraseHeard_ = true;
        return;
    }
    // Once the stop phrase was heard, what the recogniser adds after it is not part of the text.
    if (stopPhraseHeard_) return;
    const QString t = transcript::trimmed(text);
    // Only the head dropped: the fuller text is kept.
    if (transcript::isLeadingTruncation(segmentFinal_, t, 6)) return;
    // Punctuation or symbols alone are never typed: they do not replace words.
    if (!transcript::containsLetterOrDigit(t) && transcript::containsLetterOrDigit(segmentFinal_)) return;
    segmentFinal_ = t;
}

void TranscriptTracker::recordTranscriptVariant(const QString& text) {
    std::lock_guard lock(mutex_);
    recordVariantLocked(text);
}

void TranscriptTracker::recordVariantLocked(const QString& text) {
    const QString t = transcript::trimmed(text);
    if (t.isEmpty()) return;
    recentTranscriptVariants_ << t;
    while (recentTranscriptVariants_.size() > maxVariants) recentTranscriptVariants_.removeFirst();
}

void TranscriptTracker::setPreviewText(const QString& text) {
    std::lock_guard lock(mutex_);
    previewText_ = text;
}

void TranscriptTracker::resetTracking() {
    std::lock_guard lock(mutex_);
    lastTranscriptUpdateAt_.reset();
    lastDistinctTranscriptAt_.reset();
    lastMeaningfulTranscript_.clear();
    recentTranscriptVariants_.clear();
    stablePreviewCount_ = 0;
}

void TranscriptTracker::resetForRecording() {
    resetTracking();
    std::lock_guard lock(mutex_);
    earlierSegments_.clear();
    segmentFinal_.clear();
    stopPhraseHeard_ = false;
}

void TranscriptTracker::beginSegment() {
    std::lock_guard lock(mutex_);
    earlierSegments_ = transcript::joinRecognisedText(earlierSegments_, segmentFinal_);
    segmentFinal_.clear();
}

QString TranscriptTracker::finalTranscript() const {
    std::lock_guard lock(mutex_);
    return transcript::joinRecognisedText(earlierSegments_, segmentFinal_);
}

bool TranscriptTracker::hasTranscriptTextLocked() const {
    return !transcript::trimmed(previewText_).isEmpty() || !transcript::trimmed(lastMeaningfulTranscript_).isEmpty();
}

bool TranscriptTracker::hasTranscriptText() const {
    std::lock_guard lock(mutex_);
    return hasTranscriptTextLocked();
}

TranscriptTracker::Snapshot TranscriptTracker::snapshot() const {
    std::lock_guard lock(mutex_);
    return {hasTranscriptTextLocked(), stablePreviewCount_, lastTranscriptUpdateAt_, lastDistinctTranscriptAt_};
}

QString TranscriptTracker::previewText() const {
    std::lock_guard lock(mutex_);
    return previewText_;
}

QString TranscriptTracker::lastMeaningfulTranscript() const {
    std::lock_guard lock(mutex_);
    return lastMeaningfulTranscript_;
}

QStringList TranscriptTracker::recentTranscriptVariants() const {
    std::lock_guard lock(mutex_);
    return recentTranscriptVariants_;
}

int TranscriptTracker::stablePreviewCount() const {
    std::lock_guard lock(mutex_);
    return stablePreviewCount_;
}

std::optional<MonoTime> TranscriptTracker::lastTranscriptUpdateAt() const {
    std::lock_guard lock(mutex_);
    return lastTranscriptUpdateAt_;
}

std::optional<MonoTime> TranscriptTracker::lastDistinctTranscriptAt() const {
    std::lock_guard lock(mutex_);
    return lastDistinctTranscriptAt_;
}

}  // namespace vocalynx
