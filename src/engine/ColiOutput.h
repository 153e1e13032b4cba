#pragma once
// Reading the speech program's standard output: bytes are cut into lines at line feeds, and each
// line is a JSON value (the transcript is taken out of it) or plain text (the transcript itself).

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <optional>

namespace vocalynx {

// The unfinished tail of the output. Bytes are kept, not text, so that a character split between
// two reads is decoded whole once its line is complete.
class ColiLineBuffer {
public:
    // The most one unfinished line may hold. A longer line is dropped whole: what was kept of it is
    // discarded and the rest is skipped up to its line feed.
    static constexpr qsizetype maxLineBytes = 1024 * 1024;

    // Appends a chunk and returns the complete lines it finished, without their line feeds.
    // overflowed is set when a line went over the cap in this chunk.
    QList<QByteArray> append(const QByteArray& chunk, bool* overflowed = nullptr);
    void clear();
    bool isEmpty() const { return pending_.isEmpty() && !skipping_; }
    qsizetype size() const { return pending_.size(); }

private:
    QByteArray pending_;
    bool skipping_ = false;  // inside a line that went over the cap
};

// The transcript text of one complete output line, or none when the line carries none: an empty
// line, JSON without a transcript, JSON that is cut short, too deep or a bare number, true, false
// or null, text with control characters other than tab and line feed, or bytes that are not UTF-8.
std::optional<QString> transcriptFromLine(const QByteArray& line);
// The text of a parsed JSON value: strings (none when they hold control characters other than tab
// and line feed), arrays from the last element back, and objects by their known keys and "segments".
std::optional<QString> extractTranscriptText(const QJsonValue& value);

}  // namespace vocalynx
