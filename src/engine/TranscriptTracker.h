#pragma once
// What the transcripts of one recording have done so far: the preview they built, the last text
// that changed it, the recent variants and how long the preview has stood still. Written on the
// main thread; the level evaluation on the audio queue reads it, so every access takes the lock.

#include <QString>
#include <QStringList>
#include <mutex>
#include <optional>

#include "platform/Clock.h"

namespace vocalynx {

class TranscriptTracker {
public:
    static constexpr int maxVariants = 6;

    // What one transcript asks of the engine.
    struct Outcome {
        bool ignored = false;          // an early stray mark: nothing else happened
        bool previewChanged = false;   // preview holds the new preview text
        QString preview;
        bool speechActivity = false;   // note speech activity at the transcript's time
        bool stopPhraseHeard = false;  // request the stop with "voice phrase"
    };

    // One transcript delivered by the speech stream.
    Outcome handleTranscript(const QString& text, const QString& stopPhrase, std::optional<MonoTime> micReadyAt,
                             MonoTime now, int tailJitterTolerance);
    void recordTranscriptVariant(const QString& text);

    // The published preview as the engine set it (cleared at start, cancel and recovery).
    void setPreviewText(const QString& text);
    // Clears everything but the preview (start and stop of a recording).
    void resetTracking();

    bool hasTranscriptText() const;

    // One consistent view for the level evaluation.
    struct Snapshot {
        bool hasTranscriptText = false;
        int stablePreviewCount = 0;
        std::optional<MonoTime> lastTranscriptUpdateAt;
        std::optional<MonoTime> lastDistinctTranscriptAt;
    };
    Snapshot snapshot() const;

    QString previewText() const;
    QString lastMeaningfulTranscript() const;
    QStringList recentTranscriptVariants() const;
    int stablePreviewCount() const;
    std::optional<MonoTime> lastTranscriptUpdateAt() const;
    std::optional<MonoTime> lastDistinctTranscriptAt() const;

private:
    bool hasTranscriptTextLocked() const;
    void recordVariantLocked(const QString& text);

    mutable std::mutex mutex_;
    QString previewText_;
    std::optional<MonoTime> lastTranscriptUpdateAt_;
    std::optional<MonoTime> lastDistinctTranscriptAt_;
    QString lastMeaningfulTranscript_;
    QStringList recentTranscriptVariants_;
    int stablePreviewCount_ = 0;
};

}  // namespace vocalynx
