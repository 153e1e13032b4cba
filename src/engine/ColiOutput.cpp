#include "engine/ColiOutput.h"

#include <algorithm>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include "engine/TranscriptRules.h"

namespace vocalynx {

QList<QByteArray> ColiLineBuffer::append(const QByteArray& chunk, bool* overflowed) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < chunk.size()) {
        const qsizetype feed = chunk.indexOf('\n', start);
        if (feed < 0) {
            if (!skipping_) {
                pending_.append(chunk.constData() + start, chunk.size() - start);
                if (pending_.size() > maxLineBytes) {
                    pending_.clear();
                    skipping_ = true;
                    if (overflowed) *overflowed = true;
                }
            }
            break;
        }
        if (skipping_) {
            skipping_ = false;  // the over-long line ends here; nothing of it is delivered
        } else {
            pending_.append(chunk.constData() + start, feed - start);
            if (pending_.size() > maxLineBytes) {
                if (overflowed) *overflowed = true;
            } else {
                lines << pending_;
            }
            pending_.clear();
        }
        start = feed + 1;
    }
    return lines;
}

void ColiLineBuffer::clear() {
    pending_.clear();
    skipping_ = false;
}

namespace {

// Control characters other than tab and line feed (C0, DEL and C1) never stand in speech: text
// that holds one is the program's noise, not a transcript.
bool hasControlCharacters(const QString& text) {
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        if (u == u'\t' || u == u'\n') return false;
        return u < 0x20 || (u >= 0x7f && u < 0xa0);
    });
}

// Whether a line that did not parse as a JSON array or object still is JSON, or the start of it:
// a bare number, true, false or null, an object cut short or nested too deep, or an array whose
// first element is JSON. Text in square brackets such as "[Music]" stays plain text.
bool isJsonNotText(const QString& line) {
    if (line.startsWith(QLatin1Char('{'))) return true;
    if (line.startsWith(QLatin1Char('['))) {
        const QString rest = transcript::trimmed(line.mid(1));
        if (rest.isEmpty()) return true;
        const QChar first = rest.front();
        if (QStringLiteral("{[\"-]").contains(first) || first.isDigit()) return true;
        for (const char* word : {"true", "false", "null"}) {
            const QLatin1String w(word);
            if (rest.startsWith(w) && (rest.size() == w.size() || !rest.at(w.size()).isLetterOrNumber())) return true;
        }
        return false;
    }
    // A bare JSON value parses inside an array; a JSON string stays text, as it always was.
    QJsonParseError error{};
    const QJsonDocument wrapped =
        QJsonDocument::fromJson(QByteArray("[") + line.toUtf8() + QByteArray("]"), &error);
    return error.error == QJsonParseError::NoError && wrapped.array().size() == 1 && !wrapped.array().at(0).isString();
}

}  // namespace

std::optional<QString> extractTranscriptText(const QJsonValue& value) {
    if (value.isString()) {
        const QString t = transcript::trimmed(value.toString());
        if (t.isEmpty() || hasControlCharacters(t)) return std::nullopt;
        return t;
    }
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (qsizetype i = array.size() - 1; i >= 0; --i)
            if (auto text = extractTranscriptText(array.at(i))) return text;
        return std::nullopt;
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (const char* key : {"text", "result", "sentence", "transcript", "partial", "output"}) {
            const auto it = object.constFind(QLatin1String(key));
            if (it == object.constEnd()) continue;
            if (auto text = extractTranscriptText(it.value())) return text;
        }
        const auto segments = object.constFind(QLatin1String("segments"));
        if (segments != object.constEnd() && segments->isArray()) {
            QStringList parts;
            for (const QJsonValue& element : segments->toArray())
                if (auto text = extractTranscriptText(element)) parts << *text;
            const QString joined = transcript::trimmed(parts.join(QLatin1Char(' ')));
            if (!joined.isEmpty()) return joined;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<QString> transcriptFromLine(const QByteArray& line) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(line);
    if (decoder.hasError()) return std::nullopt;
    const QString t = transcript::trimmed(text);
    if (t.isEmpty()) return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(t.toUtf8(), &error);
    if (error.error == QJsonParseError::NoError && (document.isArray() || document.isObject()))
        return extractTranscriptText(document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object()));
    if (isJsonNotText(t) || hasControlCharacters(t)) return std::nullopt;
    return t;
}

}  // namespace vocalynx
