#include "platform/PlayerScripts.h"

#include <QStringList>
#include <array>

namespace vocalynx {

namespace {

QString tell(const QString& player) { return QStringLiteral("tell application \"%1\"").arg(player); }

QString lines(std::initializer_list<QString> parts) { return QStringList(parts).join(QLatin1Char('\n')); }

constexpr std::array kAllKinds{PlayerScriptKind::status,       PlayerScriptKind::toggle,      PlayerScriptKind::next,
                               PlayerScriptKind::previous,     PlayerScriptKind::play,        PlayerScriptKind::pause,
                               PlayerScriptKind::artworkCount, PlayerScriptKind::artworkData, PlayerScriptKind::artworkUrl};

}  // namespace

QString playerScript(PlayerScriptKind kind, const QString& player) {
    const QString head = tell(player);
    switch (kind) {
    case PlayerScriptKind::status:
        return lines({head,
                      QStringLiteral("    set s to player state as string"),
                      QStringLiteral("    if s is \"playing\" or s is \"paused\" then"),
                      QStringLiteral("        set tName to name of current track"),
                      QStringLiteral("        set tArtist to artist of current track"),
                      QStringLiteral("        set tAlbum to album of current track"),
                      QStringLiteral("        return s & \"||\" & tName & \"||\" & tArtist & \"||\" & tAlbum"),
                      QStringLiteral("    else"),
                      QStringLiteral("        return \"stopped\""),
                      QStringLiteral("    end if"),
                      QStringLiteral("end tell")});
    case PlayerScriptKind::toggle:
        return head + QStringLiteral(" to playpause");
    case PlayerScriptKind::next:
        return lines({head, QStringLiteral("next track"), QStringLiteral("play"), QStringLiteral("end tell")});
    case PlayerScriptKind::previous:
        return lines({head, QStringLiteral("previous track"), QStringLiteral("play"), QStringLiteral("end tell")});
    case PlayerScriptKind::play:
        return head + QStringLiteral(" to play");
    case PlayerScriptKind::pause:
        return head + QStringLiteral(" to pause");
    case PlayerScriptKind::artworkCount:
        return lines({head,
                      QStringLiteral("    try"),
                      QStringLiteral("        if (count of artworks of current track) > 0 then"),
                      QStringLiteral("            return (count of artworks of current track) as string"),
                      QStringLiteral("        else"),
                      QStringLiteral("            return \"0\""),
                      QStringLiteral("        end if"),
                      QStringLiteral("    end try"),
                      QStringLiteral("end tell")});
    case PlayerScriptKind::artworkData:
        return lines({head,
                      QStringLiteral("    try"),
                      QStringLiteral("        set artData to raw data of artwork 1 of current track"),
                      QStringLiteral("        return artData"),
                      QStringLiteral("    end try"),
                      QStringLiteral("end tell")});
    case PlayerScriptKind::artworkUrl:
        return lines({head, QStringLiteral("    return artwork url of current track"), QStringLiteral("end tell")});
    }
    return {};
}

std::optional<RecognisedPlayerScript> recognisePlayerScript(const QString& source) {
    for (const QString& player : {kMusicPlayer, kSpotifyPlayer}) {
        if (!source.startsWith(tell(player))) continue;
        for (PlayerScriptKind kind : kAllKinds)
            if (source == playerScript(kind, player)) return RecognisedPlayerScript{kind, player};
    }
    return std::nullopt;
}

}  // namespace vocalynx
