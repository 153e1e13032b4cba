#include "gestures/AlbumArtwork.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace vocalynx {

QString trackKey(const QString& player, const QString& title, const QString& artist, const QString& album) {
    return QStringList{player, title, artist, album}.join(QStringLiteral("||"));
}

QByteArray encodeSearchTerm(const QString& title, const QString& artist, const QString& album) {
    const QString text = QStringList{title, artist, album}.join(QLatin1Char(' '));
    // The characters a URL query allows besides letters, digits and "-._~", less "&", "=" and "+".
    return QUrl::toPercentEncoding(text, QByteArrayLiteral("!$'()*,/:;?@"));
}

std::optional<QUrl> artworkSearchUrl(const QUrl& base, const QString& title, const QString& artist,
                                     const QString& album) {
    QString address = base.toString(QUrl::FullyEncoded);
    while (address.endsWith(QLatin1Char('/'))) address.chop(1);
    address += QStringLiteral("/search?term=") + QString::fromLatin1(encodeSearchTerm(title, artist, album)) +
               QStringLiteral("&media=music&limit=10");
    QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return std::nullopt;
    return url;
}

std::optional<QUrl> artworkUrlFromSearchAnswer(const QByteArray& json, const QString& album) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    const QJsonValue resultsValue = doc.object().value(QStringLiteral("results"));
    if (!resultsValue.isArray()) return std::nullopt;
    const QJsonArray results = resultsValue.toArray();
    if (results.isEmpty()) return std::nullopt;
    for (const QJsonValue& r : results)
        if (!r.isObject()) return std::nullopt;

    const QString wanted = album.toLower();
    QJsonObject chosen = results.first().toObject();
    for (const QJsonValue& r : results) {
        const QJsonValue name = r.toObject().value(QStringLiteral("collectionName"));
        if (name.isString() && name.toString().toLower() == wanted) {
            chosen = r.toObject();
            break;
        }
    }
    const QJsonValue small = chosen.value(QStringLiteral("artworkUrl100"));
    if (!small.isString()) return std::nullopt;
    QString address = small.toString();
    address.replace(QStringLiteral("100x100bb"), QStringLiteral("600x600bb"));
    QUrl url(address, QUrl::StrictMode);
    // The address comes from the network: only a web address is fetched, never a local file.
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<AccentColor> accentColor(const RgbaImage& image) {
    if (image.isEmpty()) return std::nullopt;
    const qint64 count = qint64(image.width) * image.height;
    if (image.pixels.size() < count * 4) return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(image.pixels.constData());
    unsigned long long sum[3] = {0, 0, 0};
    for (qint64 i = 0; i < count; ++i) {
        sum[0] += p[i * 4];
        sum[1] += p[i * 4 + 1];
        sum[2] += p[i * 4 + 2];
    }
    auto channel = [count](unsigned long long total) {
        const auto byte = (total + static_cast<unsigned long long>(count) / 2) / static_cast<unsigned long long>(count);
        return static_cast<double>(byte) / 255.0;
    };
    return AccentColor{channel(sum[0]), channel(sum[1]), channel(sum[2]), 1.0};
}

}  // namespace vocalynx
