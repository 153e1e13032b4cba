// The pure parts of the MPRIS adapters (which bus name stands for which player) and the image
// decoder.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <random>

#include "platform/MusicPlayers.h"
#include "platform/linux/MprisBusNames.h"
#include "platform/linux/MprisRelays.h"
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
        {QStringLiteral("org.mpris.MediaPlayer2.playerctld"), QStringLiteral("")},  // a proxy
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
    EXPECT_EQ(mpris::busNamesForPlayer(kMusicPlayer, names),
              (QStringList{QStringLiteral("org.mpris.MediaPlayer2.audacious"), QStringLiteral("org.mpris.MediaPlayer2.vlc")}));
    EXPECT_EQ(mpris::busNamesForPlayer(kSpotifyPlayer, names), QStringList{QStringLiteral("org.mpris.MediaPlayer2.spotify")});
    EXPECT_TRUE(mpris::busNamesForPlayer(kMusicPlayer, {QStringLiteral("org.mpris.MediaPlayer2.vocalynx"),
                                                        QStringLiteral("org.mpris.MediaPlayer2.playerctld"),
                                                        QStringLiteral("org.mpris.MediaPlayer2.spotify")})
                    .isEmpty());
    EXPECT_TRUE(mpris::busNamesForPlayer(QStringLiteral(""), names).isEmpty());
    EXPECT_EQ(mpris::runningPlayers(names), (QSet<QString>{kMusicPlayer, kSpotifyPlayer}));
    EXPECT_TRUE(mpris::runningPlayers({QStringLiteral("org.mpris.MediaPlayer2.vocalynx")}).isEmpty());
}

// Hundreds of names gained and lost in a scrambled order, names gained twice (a new owner) and
// lost when never held: after each change the counted names report what a reading of all the
// names held would, and a player starts or stops exactly when that reading changes.
TEST(MprisBusNames, OwnedNamesFollowEveryGainAndLoss) {
    QStringList pool{QStringLiteral("org.mpris.MediaPlayer2.spotify"), QStringLiteral("org.mpris.MediaPlayer2.vocalynx"),
                     QStringLiteral("org.mpris.MediaPlayer2.playerctld"), QStringLiteral("org.freedesktop.Notifications"),
                     QStringLiteral(":1.7")};
    for (int i = 0; i < 400; ++i) pool << QStringLiteral("org.mpris.MediaPlayer2.flood%1").arg(i);
    std::mt19937 rng(7);
    std::uniform_int_distribution<qsizetype> pick(0, pool.size() - 1);
    mpris::OwnedPlayerNames owned;
    QSet<QString> held;
    for (int step = 0; step < 6000; ++step) {
        // The first half mostly gains names, the second mostly loses them, down to none.
        const QString name = step % 11 == 0 ? pool.first() : pool.at(pick(rng));
        const bool gain = step < 3000 ? rng() % 4 != 0 : rng() % 4 == 0;
        const QSet<QString> before = mpris::runningPlayers(QStringList(held.begin(), held.end()));
        const QString changed = gain ? owned.add(name) : owned.remove(name);
        if (gain) held.insert(name);
        else held.remove(name);
        const QSet<QString> after = mpris::runningPlayers(QStringList(held.begin(), held.end()));
        ASSERT_EQ(owned.players(), after) << "step " << step;
        const QSet<QString> difference = gain ? after - before : before - after;
        ASSERT_EQ(changed.isEmpty() ? QSet<QString>() : QSet<QString>{changed}, difference) << "step " << step;
    }
    for (const QString& name : pool) owned.remove(name);
    EXPECT_TRUE(owned.players().isEmpty());
    owned.add(QStringLiteral("org.mpris.MediaPlayer2.vlc"));
    owned.clear();
    EXPECT_TRUE(owned.players().isEmpty());
    EXPECT_EQ(owned.add(QStringLiteral("org.mpris.MediaPlayer2.vlc")), kMusicPlayer) << "a clear forgets every name";
}

TEST(MprisRelays, OnlyACallFromAConnectionJustCommandedIsAnEcho) {
    MprisRelays relays;
    EXPECT_FALSE(relays.isEcho(QStringLiteral(":1.7"))) << "never sent anything";
    relays.sending(QStringLiteral(":1.7"));
    EXPECT_FALSE(relays.isRelay(QStringLiteral(":1.7"))) << "sending alone makes no relay";
    EXPECT_FALSE(relays.isEcho(QStringLiteral(":1.8")));
    EXPECT_TRUE(relays.isEcho(QStringLiteral(":1.7")));
    EXPECT_TRUE(relays.isRelay(QStringLiteral(":1.7")));
    EXPECT_FALSE(relays.isRelay(QStringLiteral(":1.8")));
    relays.sending(QString());
    EXPECT_FALSE(relays.isEcho(QString()));
    relays.addRelay(QStringLiteral(":1.9"));
    EXPECT_TRUE(relays.isRelay(QStringLiteral(":1.9")));
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
