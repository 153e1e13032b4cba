// The artwork helpers: the search request, the choice of an address from a search answer, and the
// accent colour.

#include <gtest/gtest.h>

#include <QUrlQuery>

#include "FakeMediaPorts.h"
#include "gestures/AlbumArtwork.h"

using namespace vocalynx;
using vocalynx::test::FakeImageDecoder;

namespace {

TEST(AlbumArtwork, SearchTermEncoding) {
    struct Case {
        QString title, artist, album;
        QByteArray encoded;
    } cases[] = {
        {QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("Album"), "Song%20Artist%20Album"},
        {QStringLiteral("Hello/World?"), QStringLiteral("A:B"), QStringLiteral("(Live)"),
         "Hello/World?%20A:B%20(Live)"},
        // "&", "=" and "+" would split the term or read as a space, so they are encoded.
        {QStringLiteral("Rock & Roll"), QStringLiteral("Simon=Garfunkel"), QStringLiteral("C++"),
         "Rock%20%26%20Roll%20Simon%3DGarfunkel%20C%2B%2B"},
        {QStringLiteral("50% #1"), QStringLiteral("\"Q\""), QStringLiteral("<x>"), "50%25%20%231%20%22Q%22%20%3Cx%3E"},
        {QStringLiteral("晴天"), QStringLiteral("周杰伦"), QStringLiteral("叶惠美"),
         "%E6%99%B4%E5%A4%A9%20%E5%91%A8%E6%9D%B0%E4%BC%A6%20%E5%8F%B6%E6%83%A0%E7%BE%8E"},
        {QStringLiteral(""), QStringLiteral(""), QStringLiteral(""), "%20%20"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title.toStdString());
        EXPECT_EQ(encodeSearchTerm(c.title, c.artist, c.album), c.encoded);
    }
}

TEST(AlbumArtwork, SearchRequestAddress) {
    const auto url = artworkSearchUrl(QUrl(QStringLiteral("http://127.0.0.1:8080/")), QStringLiteral("Rock & Roll"),
                                      QStringLiteral("A"), QStringLiteral("B"));
    ASSERT_TRUE(url);
    EXPECT_EQ(url->toString(QUrl::FullyEncoded),
              QStringLiteral("http://127.0.0.1:8080/search?term=Rock%20%26%20Roll%20A%20B&media=music&limit=10"));
    // What the server reads back from the query.
    const QUrlQuery query(*url);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("term"), QUrl::FullyDecoded), QStringLiteral("Rock & Roll A B"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("media")), QStringLiteral("music"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("limit")), QStringLiteral("10"));
    EXPECT_FALSE(artworkSearchUrl(QUrl(), QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")))
        << "no base address, no request";
}

TEST(AlbumArtwork, ArtworkAddressFromSearchAnswers) {
    struct Case {
        const char* name;
        QByteArray json;
        std::optional<QString> url;
    } cases[] = {
        {"album match, case ignored",
         R"({"results":[{"collectionName":"x","artworkUrl100":"https://a/x/100x100bb.jpg"},
                        {"collectionName":"THE Album","artworkUrl100":"https://a/y/100x100bb.jpg"}]})",
         QStringLiteral("https://a/y/600x600bb.jpg")},
        {"no match: the first result",
         R"({"results":[{"collectionName":"x","artworkUrl100":"https://a/x/100x100bb.jpg"},
                        {"collectionName":"y","artworkUrl100":"https://a/y/100x100bb.jpg"}]})",
         QStringLiteral("https://a/x/600x600bb.jpg")},
        {"every 100x100bb is rewritten", R"({"results":[{"artworkUrl100":"https://a/100x100bb/100x100bb.png"}]})",
         QStringLiteral("https://a/600x600bb/600x600bb.png")},
        {"a non-string collection name does not match",
         R"({"results":[{"collectionName":1,"artworkUrl100":"https://a/1"},{"collectionName":"the album","artworkUrl100":"https://a/2"}]})",
         QStringLiteral("https://a/2")},
        {"the chosen result lacks an address", R"({"results":[{"collectionName":"The Album"}]})", std::nullopt},
        {"the address is no string", R"({"results":[{"artworkUrl100":5}]})", std::nullopt},
        {"empty results", R"({"results":[]})", std::nullopt},
        {"results not an array", R"({"results":{}})", std::nullopt},
        {"a result that is no object", R"({"results":[{"artworkUrl100":"https://a/1"}, 3]})", std::nullopt},
        {"not an object", R"([1,2])", std::nullopt},
        {"not JSON", "<html>", std::nullopt},
        {"a local file address is not fetched", R"({"results":[{"artworkUrl100":"file:///etc/passwd"}]})",
         std::nullopt},
        {"not an address", R"({"results":[{"artworkUrl100":"::"}]})", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto url = artworkUrlFromSearchAnswer(c.json, QStringLiteral("The Album"));
        EXPECT_EQ(url ? std::optional(url->toString()) : std::nullopt, c.url);
    }
}

TEST(AlbumArtwork, AccentColourIsTheRoundedMeanPixel) {
    auto twoPixels = [](QByteArray first, QByteArray second) { return RgbaImage{2, 1, first + second}; };
    struct Case {
        const char* name;
        RgbaImage image;
        std::optional<AccentColor> color;
    } cases[] = {
        {"one colour", FakeImageDecoder::solid(4, 3, 51, 102, 255), AccentColor{0.2, 0.4, 1.0, 1}},
        {"mean rounds half up", twoPixels(QByteArray("\x00\x00\x01\xff", 4), QByteArray("\xff\x02\x02\xff", 4)),
         AccentColor{128 / 255.0, 1 / 255.0, 2 / 255.0, 1}},
        {"alpha does not weigh and the result is opaque",
         twoPixels(QByteArray("\xff\x00\x00\x00", 4), QByteArray("\x00\x00\xff\xff", 4)),
         AccentColor{128 / 255.0, 0, 128 / 255.0, 1}},
        {"empty extent", RgbaImage{0, 5, QByteArray()}, std::nullopt},
        {"pixels missing", RgbaImage{2, 2, QByteArray(8, '\x10')}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(accentColor(c.image), c.color);
    }
    // A large image does not overflow the sums.
    EXPECT_EQ(accentColor(FakeImageDecoder::solid(2000, 2000, 255, 255, 255)), (AccentColor{1, 1, 1, 1}));
}

}  // namespace
