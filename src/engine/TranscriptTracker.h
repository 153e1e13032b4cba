#pragma once
// What the transcripts of one recording have done so far: the preview they built, the last text
// that changed it, the recent variants and how long the preview has stood still, and the text the
// final text is made of. Written by the speech stream's reader, one transcript at a time; the level
// evaluation on the audio queue and the main thread read it, so every access takes the lock.
//
// The preview follows the rules that keep the panel calm (tail jitter, a head dropped by the
// recogniser, flicker between close variants). The final text does not: it is the newest transcript
// (stop phrase removed), except that a transcript that only lost characters at its head, or one
// with no letter or digit, does not replace a fuller one. When the speech process is replaced during
// a recording, what the earlier process recognised is kept and what the new one recognises is
// joined after it, in the preview and in the final text.

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
    // Clears everything but the preview and the final text (stop of a recording).
    void resetTracking();
    // Clears everything but the preview (start of a recording).
    void resetForRecording();
    // A new speech process continues the recording: what was recognised so far stays, and the new
    // process's transcripts are joined after it.
    void beginSegment();
    // The newest recognised text of the recording, stop phrase removed, trimmed; not yet cleaned.
    QString finalTranscript() const;

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
    void updateFinalLocked(const QString& text, const std::optional<QString>& strippedOfStopPhrase);

    mutable std::mutex mutex_;
    QString previewText_;
    std::optional<MonoTime> lastTranscriptUpdateAt_;
    std::optional<MonoTime> lastDistinctTranscriptAt_;
    QString lastMeaningfulTranscript_;
    QStringList recentTranscriptVariants_;
    int stablePreviewCount_ = 0;
    // What earlier speech processes of this recording recognised, joined; empty with one process.
    QString earlierSegments_;
    // The newest text of the current process, stop phrase removed.
    QString segmentFinal_;
    bool stopPhraseHeard_ = false;
};

}  // namespace vocalynx
