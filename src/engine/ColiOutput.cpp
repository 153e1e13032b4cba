#include "engine/ColiOutput.h"

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

std::optional<QString> extractTranscriptText(const QJsonValue& value) {
    if (value.isString()) {
        const QString t = transcript::trimmed(value.toString());
        if (t.isEmpty()) return std::nullopt;
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
    return t;
}

}  // namespace vocalynx
