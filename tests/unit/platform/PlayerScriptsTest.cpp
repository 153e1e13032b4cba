// Recognition of the player scripts: exactly the fixed texts, for either player, and nothing else.

#include <gtest/gtest.h>

#include "platform/PlayerScripts.h"

using namespace vocalynx;

namespace {

constexpr PlayerScriptKind kKinds[] = {PlayerScriptKind::status,       PlayerScriptKind::toggle,      PlayerScriptKind::next,
                                       PlayerScriptKind::previous,     PlayerScriptKind::play,        PlayerScriptKind::pause,
                                       PlayerScriptKind::artworkCount, PlayerScriptKind::artworkData, PlayerScriptKind::artworkUrl};

TEST(PlayerScripts, EveryScriptIsRecognisedForEitherPlayer) {
    for (const QString& player : {kMusicPlayer, kSpotifyPlayer})
        for (PlayerScriptKind kind : kKinds) {
            const QString text = playerScript(kind, player);
            SCOPED_TRACE(text.toStdString());
            EXPECT_FALSE(text.endsWith(u'\n'));
            EXPECT_EQ(recognisePlayerScript(text), (RecognisedPlayerScript{kind, player}));
        }
}

TEST(PlayerScripts, NearMissesAreNotRecognised) {
    const QString status = playerScript(PlayerScriptKind::status, kMusicPlayer);
    const QString next = playerScript(PlayerScriptKind::next, kSpotifyPlayer);
    const QString cases[] = {
        status + QStringLiteral("\n"),
        QString(status).replace(QStringLiteral("    set s"), QStringLiteral("   set s")),
        QString(status).replace(QStringLiteral("\n"), QStringLiteral("\r\n")),
        QString(next).replace(QStringLiteral("Spotify"), QStringLiteral("iTunes")),
        QString(next).replace(QStringLiteral("\nplay\n"), QStringLiteral("\n")),
        QStringLiteral("tell application \"Music\" to playpause\n"),
        QStringLiteral("tell application \"Music\" to quit"),
        QStringLiteral("do shell script \"rm -rf ~\""),
        QStringLiteral(""),
    };
    for (const QString& text : cases) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(recognisePlayerScript(text), std::nullopt);
    }
}

}  // namespace
