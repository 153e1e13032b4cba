// The pure parts of the MPRIS adapters (which bus name stands for which player) and the image
// decoder.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include "platform/PlayerScripts.h"
#include "platform/linux/MprisBusNames.h"
#include "platform/linux/QtImageDecoder.h"

using namespace vocalynx;

namespace {

TEST(MprisBusNames, NamesMapToPlayers) {
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("org.mpris.MediaPlayer2.spotify"), kSpotifyPlayer},
        {QStringLiteral("org.mpris.MediaPlayer2.vlc"), kMusicPlayer},
        {QStringLiteral("org.mpris.MediaPlayer2.spotify.instance42"), kMusicPlayer},
        {QStringLiteral("org.mpris.MediaPlayer2.vocalynx"), QStringLiteral("")},
        {QStringLiteral("org.mpris.MediaPlayer2.vocalynx.instance7"), QStringLiteral("")},
        {QStringLiteral("org.mpris.MediaPlayer2."), QStringLiteral("")},
        {QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("")},
        {QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("")},
        {QStringLiteral(":1.42"), QStringLiteral("")},
    };
    for (const auto& [name, player] : cases) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(mpris::playerNameForBusName(name), player);
    }
}

TEST(MprisBusNames, MusicIsTheFirstOtherPlayerByName) {
    const QStringList names{QStringLiteral("org.mpris.MediaPlayer2.vocalynx"),
                            QStringLiteral("org.mpris.MediaPlayer2.vlc"),
                            QStringLiteral("org.mpris.MediaPlayer2.spotify"),
                            QStringLiteral("org.mpris.MediaPlayer2.audacious"), QStringLiteral(":1.5")};
    EXPECT_EQ(mpris::busNameForPlayer(kMusicPlayer, names), QStringLiteral("org.mpris.MediaPlayer2.audacious"));
    EXPECT_EQ(mpris::busNameForPlayer(kSpotifyPlayer, names), QStringLiteral("org.mpris.MediaPlayer2.spotify"));
    EXPECT_EQ(mpris::busNameForPlayer(kMusicPlayer, {QStringLiteral("org.mpris.MediaPlayer2.vocalynx"),
                                                     QStringLiteral("org.mpris.MediaPlayer2.spotify")}),
              QStringLiteral(""));
    EXPECT_EQ(mpris::busNameForPlayer(QStringLiteral(""), names), QStringLiteral(""));
    EXPECT_EQ(mpris::runningPlayers(names), (QSet<QString>{kMusicPlayer, kSpotifyPlayer}));
    EXPECT_TRUE(mpris::runningPlayers({QStringLiteral("org.mpris.MediaPlayer2.vocalynx")}).isEmpty());
}

TEST(QtImageDecoder, DecodesStraightRgbaAndRejectsOtherBytes) {
    QImage source(2, 1, QImage::Format_ARGB32);
    source.setPixel(0, 0, qRgba(10, 20, 30, 255));
    source.setPixel(1, 0, qRgba(200, 100, 50, 128));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(source.save(&buffer, "PNG"));

    const QtImageDecoder decoder;
    const auto image = decoder.decode(png);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 2);
    EXPECT_EQ(image->height, 1);
    EXPECT_EQ(image->pixels, QByteArray("\x0a\x14\x1e\xff\xc8\x64\x32\x80", 8));

    EXPECT_FALSE(decoder.decode(QByteArray()));
    EXPECT_FALSE(decoder.decode("<html>404</html>"));
    EXPECT_FALSE(decoder.decode(png.left(png.size() / 2)));
}

}  // namespace
