#pragma once
// The rules that judge transcripts from the speech program: what counts as a real change of the
// preview, where the stop phrase is, and how the final text is cleaned. Pure functions of their
// arguments. Lengths and positions are in user-perceived characters (grapheme clusters); character
// classes come from the Unicode general categories.

#include <QString>
#include <QStringList>
#include <optional>

#include "platform/Clock.h"

namespace vocalynx::transcript {

// The fixed variants of the stop phrase that are always tried besides the configured one.
inline const QStringList fixedStopPhraseVariants{QStringLiteral("就这样妙"), QStringLiteral("就这样苗"),
                                                 QStringLiteral("就这样猫")};

bool isWhitespaceOrNewline(char32_t c);
bool isPunctuation(char32_t c);
bool isLetter(char32_t c);  // letters and marks
bool isDecimalDigit(char32_t c);

// Whitespace and newlines removed at both ends.
QString trimmed(const QString& text);
// Whitespace, newlines and punctuation removed at both ends.
QString trimmedOfPunctuation(const QString& text);
// The text split into grapheme clusters.
QStringList characters(const QString& text);

bool containsLetterOrDigit(const QString& text);
bool hasNonPunctuation(const QString& text);
// Every whitespace, newline or punctuation scalar removed.
QString normalizeForMatching(const QString& text);

bool shouldIgnoreEarlyTranscript(const QString& text, std::optional<MonoTime> micReadyAt, MonoTime now);

// Levenshtein distance over characters, or none when it exceeds the bound.
std::optional<int> boundedEditDistance(const QString& a, const QString& b, int bound);
bool isLeadingTruncation(const QString& previous, const QString& next, int limit);
bool isVariantFlicker(const QString& previous, const QString& next, const QStringList& variants);
bool isDistinctTranscript(const QString& previous, const QString& next, const QStringList& variants, int tolerance);

// The configured phrase and the fixed variants, without duplicates, longest first.
QStringList stopPhraseCandidates(const QString& phrase);
// The characters [first, end) of the text that make up a candidate, found backwards from the end
// while skipping whitespace and punctuation; none when no candidate ends the text.
struct CharacterRange {
    int first = 0;
    int end = 0;
};
std::optional<CharacterRange> findStopPhraseRange(const QString& text, const QStringList& candidates);
// The text before the stop phrase (possibly empty), or none when the text does not end with it.
std::optional<QString> stripVoiceStopPhrase(const QString& text, const QString& phrase);

QString cleanFinalTranscript(const QString& text);

// Two pieces of recognised text, one after the other: trimmed, and with one space between them
// unless either side of the join is written without spaces (Chinese and Japanese script, their
// full-width punctuation) or the second begins with punctuation that closes text (".", ",", ")").
// Either piece may be empty.
QString joinRecognisedText(const QString& first, const QString& second);

}  // namespace vocalynx::transcript
