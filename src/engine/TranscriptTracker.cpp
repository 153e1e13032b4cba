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
    const bool distinct = transcript::isDistinctTranscript(lastMeaningfulTranscript_, text, recentTranscriptVariants_,
                                                           tailJitterTolerance);
    const bool same = text == previewText_;
    recordVariantLocked(text);
    const auto accept = [&](const QString& preview) {
        previewText_ = preview;
        lastTranscriptUpdateAt_ = lastDistinctTranscriptAt_ = now;
        lastMeaningfulTranscript_ = preview;
        stablePreviewCount_ = 0;
        out.previewChanged = true;
        out.preview = preview;
        out.speechActivity = true;
    };
    if (const std::optional<QString> stripped = transcript::stripVoiceStopPhrase(text, stopPhrase)) {
        accept(*stripped);
        out.stopPhraseHeard = true;
    } else if (!same && distinct) {
        accept(text);
    } else {
        ++stablePreviewCount_;
    }
    return out;
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
