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
        {"org.mpris.MediaPlayer2.spotify", kSpotifyPlayer},
        {"org.mpris.MediaPlayer2.vlc", kMusicPlayer},
        {"org.mpris.MediaPlayer2.spotify.instance42", kMusicPlayer},
        {"org.mpris.MediaPlayer2.vocalynx", ""},
        {"org.mpris.MediaPlayer2.vocalynx.instance7", ""},
        {"org.mpris.MediaPlayer2.", ""},
        {"org.mpris.MediaPlayer2", ""},
        {"org.freedesktop.Notifications", ""},
        {":1.42", ""},
    };
    for (const auto& [name, player] : cases) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(mpris::playerNameForBusName(name), player);
    }
}

TEST(MprisBusNames, MusicIsTheFirstOtherPlayerByName) {
    const QStringList names{"org.mpris.MediaPlayer2.vocalynx", "org.mpris.MediaPlayer2.vlc", "org.mpris.MediaPlayer2.spotify",
                            "org.mpris.MediaPlayer2.audacious", ":1.5"};
    EXPECT_EQ(mpris::busNameForPlayer(kMusicPlayer, names), "org.mpris.MediaPlayer2.audacious");
    EXPECT_EQ(mpris::busNameForPlayer(kSpotifyPlayer, names), "org.mpris.MediaPlayer2.spotify");
    EXPECT_EQ(mpris::busNameForPlayer(kMusicPlayer, {"org.mpris.MediaPlayer2.vocalynx", "org.mpris.MediaPlayer2.spotify"}), "");
    EXPECT_EQ(mpris::busNameForPlayer("", names), "");
    EXPECT_EQ(mpris::runningPlayers(names), (QSet<QString>{kMusicPlayer, kSpotifyPlayer}));
    EXPECT_TRUE(mpris::runningPlayers({"org.mpris.MediaPlayer2.vocalynx"}).isEmpty());
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
