#pragma once
// Album artwork helpers of the media service: the track key, the music-search request and the
// choice of an artwork address from its answer, and the accent colour of an image.

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

#include "platform/ImageDecoder.h"

namespace vocalynx {

// The base address of the public music-search service the artwork lookup asks.
inline constexpr const char* kMusicSearchBaseUrl = "https://itunes.apple.com";

// An sRGB colour with components in 0...1.
struct AccentColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;
    bool operator==(const AccentColor&) const = default;
};

// Identifies a track in every artwork cache: player, title, artist and album joined by "||".
QString trackKey(const QString& player, const QString& title, const QString& artist, const QString& album);

// The search text (title, artist and album joined by single spaces) encoded for the query.
// Characters that a URL query allows stay as they are, except "&", "=" and "+", which would
// otherwise split the term or turn into spaces; everything else is percent-encoded as UTF-8.
QByteArray encodeSearchTerm(const QString& title, const QString& artist, const QString& album);

// base + "/search?term=<encoded>&media=music&limit=10"; none when that is no valid address.
std::optional<QUrl> artworkSearchUrl(const QUrl& base, const QString& title, const QString& artist,
                                     const QString& album);

// Reads a search answer: the "artworkUrl100" of the first result whose "collectionName" equals the
// album (ignoring case), else of the first result, rewritten from 100 to 600 pixels. None when the
// answer is not an object with a non-empty array of objects under "results", when the chosen
// result has no such address, or when the rewritten address is not a usable http(s) address.
std::optional<QUrl> artworkUrlFromSearchAnswer(const QByteArray& json, const QString& album);

// The mean of the image's pixels as an opaque colour (red, green and blue of the mean RGBA8
// pixel, each rounded to a byte, over 255); none for an empty image.
std::optional<AccentColor> accentColor(const RgbaImage& image);

}  // namespace vocalynx
