#include "engine/TranscriptRules.h"

#include <QSet>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <vector>

#include "core/Text.h"

namespace vocalynx::transcript {

namespace {

template <typename Pred>
bool anyScalar(const QString& text, Pred pred) {
    for (char32_t c : text.toUcs4())
        if (pred(c)) return true;
    return false;
}

template <typename Pred>
QString trimScalars(const QString& text, Pred drop) {
    const QList<uint> scalars = text.toUcs4();
    qsizetype first = 0, last = scalars.size();
    while (first < last && drop(scalars[first])) ++first;
    while (last > first && drop(scalars[last - 1])) --last;
    if (first == 0 && last == scalars.size()) return text;
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(scalars.constData()) + first, last - first);
}

bool isSkip(char32_t c) { return isWhitespaceOrNewline(c) || isPunctuation(c); }

}  // namespace

bool isWhitespaceOrNewline(char32_t c) {
    // QChar::isSpace covers the separators (Zs, Zl, Zp) and the control characters that break lines.
    return QChar::isSpace(c) || c == 0x200B || c == 0x2028 || c == 0x2029;
}

bool isPunctuation(char32_t c) {
    switch (QChar::category(c)) {
        case QChar::Punctuation_Connector:
        case QChar::Punctuation_Dash:
        case QChar::Punctuation_Open:
        case QChar::Punctuation_Close:
        case QChar::Punctuation_InitialQuote:
        case QChar::Punctuation_FinalQuote:
        case QChar::Punctuation_Other:
            return true;
        default:
            return false;
    }
}

bool isLetter(char32_t c) {
    switch (QChar::category(c)) {
        case QChar::Letter_Uppercase:
        case QChar::Letter_Lowercase:
        case QChar::Letter_Titlecase:
        case QChar::Letter_Modifier:
        case QChar::Letter_Other:
        case QChar::Mark_NonSpacing:
        case QChar::Mark_SpacingCombining:
        case QChar::Mark_Enclosing:
            return true;
        default:
            return false;
    }
}

bool isDecimalDigit(char32_t c) { return QChar::category(c) == QChar::Number_DecimalDigit; }

QString trimmed(const QString& text) { return trimScalars(text, isWhitespaceOrNewline); }

QString trimmedOfPunctuation(const QString& text) { return trimScalars(text, isSkip); }

QStringList characters(const QString& text) {
    QStringList out;
    if (text.isEmpty()) return out;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype next = finder.toNextBoundary(); next != -1; next = finder.toNextBoundary()) {
        if (next > start) out << text.mid(start, next - start);
        start = next;
    }
    return out;
}

bool containsLetterOrDigit(const QString& text) {
    return anyScalar(text, [](char32_t c) { return isLetter(c) || isDecimalDigit(c); });
}

bool hasNonPunctuation(const QString& text) {
    return anyScalar(text, [](char32_t c) { return !isPunctuation(c); });
}

QString normalizeForMatching(const QString& text) {
    QString out;
    for (char32_t c : text.toUcs4())
        if (!isSkip(c)) out += QString::fromUcs4(&c, 1);
    return out;
}

bool shouldIgnoreEarlyTranscript(const QString& text, std::optional<MonoTime> micReadyAt, MonoTime now) {
    if (!micReadyAt) return false;
    if (!(secondsBetween(*micReadyAt, now) < 0.35)) return false;
    const QString t = trimmed(text);
    const int length = characterCount(t);
    if (length < 1 || length > 2) return false;
    return !containsLetterOrDigit(t);
}

std::optional<int> boundedEditDistance(const QString& a, const QString& b, int bound) {
    const QStringList x = characters(a), y = characters(b);
    const int n = static_cast<int>(x.size()), m = static_cast<int>(y.size());
    if (std::abs(n - m) > bound) return std::nullopt;
    // Only the cells within bound of the diagonal can stay within bound (a cell off it by k costs at
    // least k), so each row computes that band and counts every other cell as over the bound.
    const int over = bound + 1;
    std::vector<int> previous(static_cast<size_t>(m) + 1, over), current(static_cast<size_t>(m) + 1, over);
    for (int j = 0; j <= std::min(m, bound); ++j) previous[static_cast<size_t>(j)] = j;
    for (int i = 1; i <= n; ++i) {
        const int first = std::max(1, i - bound), last = std::min(m, i + bound);
        // The band's neighbours read in this row and the next hold "over", not an older row's value.
        current[0] = i <= bound ? i : over;
        current[static_cast<size_t>(first) - 1] = first == 1 ? current[0] : over;
        if (last < m) current[static_cast<size_t>(last) + 1] = over;
        int rowMin = current[0];
        for (int j = first; j <= last; ++j) {
            const int substitute = previous[static_cast<size_t>(j) - 1] + (x[i - 1] == y[j - 1] ? 0 : 1);
            const int value =
                std::min({previous[static_cast<size_t>(j)] + 1, current[static_cast<size_t>(j) - 1] + 1, substitute});
            current[static_cast<size_t>(j)] = std::min(value, over);
            rowMin = std::min(rowMin, current[static_cast<size_t>(j)]);
        }
        if (rowMin > bound) return std::nullopt;
        std::swap(previous, current);
    }
    const int distance = previous[static_cast<size_t>(m)];
    if (distance > bound) return std::nullopt;
    return distance;
}

bool isLeadingTruncation(const QString& previous, const QString& next, int limit) {
    const QString a = normalizeForMatching(previous).toLower();
    const QString b = normalizeForMatching(next).toLower();
    if (a.isEmpty() || b.isEmpty()) return false;
    const int lengthA = characterCount(a), lengthB = characterCount(b);
    return lengthB < lengthA && a.endsWith(b) && lengthA - lengthB <= limit;
}

bool isVariantFlicker(const QString& previous, const QString& next, const QStringList& variants) {
    const std::optional<int> d = boundedEditDistance(previous, next, 2);
    if (!d || *d == 0) return false;
    QStringList t;
    for (const QString& v : variants)
        if (const QString tv = trimmed(v); !tv.isEmpty()) t << tv;
    if (t.size() < 3) return false;
    if (!t.contains(previous) || !t.contains(next)) return false;
    QStringList unique;
    for (const QString& v : t)
        if (!unique.contains(v)) unique << v;
    int close = 0;
    for (const QString& v : unique)
        if (boundedEditDistance(v, previous, 2)) ++close;
    return close >= 2 && close <= 3;
}

bool isDistinctTranscript(const QString& previousText, const QString& newText, const QStringList& variants,
                          int tolerance) {
    const QString p = trimmed(previousText), n = trimmed(newText);
    if (n.isEmpty()) return false;
    if (p.isEmpty()) return true;
    if (n == p) return false;
    if (isLeadingTruncation(p, n, 6)) return false;
    const QStringList pc = characters(p), nc = characters(n);
    qsizetype i = 0;
    while (i < pc.size() && i < nc.size() && pc[i] == nc[i]) ++i;
    if (std::max(pc.size(), nc.size()) - i <= tolerance) return false;
    return !isVariantFlicker(p, n, variants);
}

QStringList stopPhraseCandidates(const QString& phrase) {
    QStringList out;
    for (const QString& c : QStringList{phrase} + fixedStopPhraseVariants)
        if (!c.isEmpty() && !out.contains(c)) out << c;
    std::stable_sort(out.begin(), out.end(),
                     [](const QString& a, const QString& b) { return characterCount(a) > characterCount(b); });
    return out;
}

std::optional<CharacterRange> findStopPhraseRange(const QString& text, const QStringList& candidates) {
    const QStringList chars = characters(text);
    const auto onlySkip = [](const QString& ch) { return !anyScalar(ch, [](char32_t c) { return !isSkip(c); }); };
    int end = static_cast<int>(chars.size());
    while (end > 0 && onlySkip(chars[end - 1])) --end;
    if (end == 0) return std::nullopt;
    for (const QString& candidate : candidates) {
        const QStringList r = characters(normalizeForMatching(candidate).toLower());
        if (r.isEmpty()) continue;
        int j = static_cast<int>(r.size()) - 1;
        int pos = end - 1;
        for (;;) {
            const QString x = normalizeForMatching(chars[pos]).toLower();
            if (x.isEmpty()) {
                if (pos == 0) break;
                --pos;
                continue;
            }
            if (x != r[j]) break;
            if (j == 0) return CharacterRange{pos, end};
            if (pos == 0) break;
            --pos;
            --j;
        }
    }
    return std::nullopt;
}

std::optional<QString> stripVoiceStopPhrase(const QString& text, const QString& phrase) {
    const QString t = trimmed(text), q = trimmed(phrase);
    if (t.isEmpty() || q.isEmpty()) return std::nullopt;
    const QStringList candidates = stopPhraseCandidates(q);
    const QString t2 = trimmedOfPunctuation(t);
    const QStringList t2chars = characters(t2);
    for (const QString& candidate : candidates) {
        const QStringList cc = characters(candidate);
        if (cc.size() <= t2chars.size() && t2chars.mid(t2chars.size() - cc.size()) == cc)
            return trimmedOfPunctuation(t2chars.mid(0, t2chars.size() - cc.size()).join(QString()));
    }
    const std::optional<CharacterRange> range = findStopPhraseRange(t, candidates);
    if (!range) return std::nullopt;
    return trimmedOfPunctuation(characters(t).mid(0, range->first).join(QString()));
}

QString cleanFinalTranscript(const QString& text) {
    QStringList t = characters(trimmed(text));
    if (t.size() < 2) return t.join(QString());
    static const QSet<QString> strongEnders{QStringLiteral("?"), QStringLiteral("？"), QStringLiteral("!"), QStringLiteral("！"), QStringLiteral(";"), QStringLiteral("；"), QStringLiteral(":"), QStringLiteral("："), QStringLiteral("…")};
    while (t.size() > 1) {
        const QString& last = t[t.size() - 1];
        const QString& prev = t[t.size() - 2];
        if (last == prev && !hasNonPunctuation(last)) {
            t.removeLast();
        } else if ((last == QStringLiteral("。") || last == QStringLiteral(".")) && strongEnders.contains(prev)) {
            t.removeLast();
        } else {
            break;
        }
    }
    return t.join(QString());
}

namespace {
// Scripts written without spaces between words, and the punctuation that goes with them.
bool isWrittenWithoutSpaces(char32_t c) {
    return (c >= 0x2E80 && c <= 0x9FFF) ||    // CJK radicals, symbols and punctuation, kana, ideographs
           (c >= 0xF900 && c <= 0xFAFF) ||    // compatibility ideographs
           (c >= 0xFE30 && c <= 0xFE4F) ||    // vertical forms
           (c >= 0xFF00 && c <= 0xFFEF) ||    // full-width and half-width forms
           (c >= 0x20000 && c <= 0x3FFFF);    // supplementary ideographs
}
}  // namespace

QString joinRecognisedText(const QString& first, const QString& second) {
    const QString a = trimmed(first);
    const QString b = trimmed(second);
    if (a.isEmpty()) return b;
    if (b.isEmpty()) return a;
    const char32_t last = a.toUcs4().constLast();
    const char32_t next = b.toUcs4().constFirst();
    const QChar::Category nextCategory = QChar::category(next);
    const bool closesText = nextCategory == QChar::Punctuation_Other || nextCategory == QChar::Punctuation_Close ||
                            nextCategory == QChar::Punctuation_FinalQuote;
    if (isWrittenWithoutSpaces(last) || isWrittenWithoutSpaces(next) || closesText) return a + b;
    return a + QLatin1Char(' ') + b;
}

}  // namespace vocalynx::transcript
