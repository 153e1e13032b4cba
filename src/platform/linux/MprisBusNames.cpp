#include "platform/linux/MprisBusNames.h"

#include "platform/MusicPlayers.h"

namespace vocalynx::mpris {

QString playerNameForBusName(const QString& busName) {
    if (!busName.startsWith(kBusNamePrefix) || busName.size() == kBusNamePrefix.size()) return QString();
    for (const QString& never : {kOwnBusName, kProxyBusName})
        if (busName == never || busName.startsWith(never + QLatin1Char('.'))) return QString();
    if (busName == kSpotifyBusName) return kSpotifyPlayer;
    return kMusicPlayer;
}

QStringList busNamesForPlayer(const QString& player, QStringList busNames) {
    busNames.sort();
    QStringList chosen;
    for (const QString& name : busNames)
        if (playerNameForBusName(name) == player && !player.isEmpty()) chosen << name;
    return chosen;
}

QSet<QString> runningPlayers(const QStringList& busNames) {
    QSet<QString> players;
    for (const QString& name : busNames) {
        const QString player = playerNameForBusName(name);
        if (!player.isEmpty()) players.insert(player);
    }
    return players;
}

}  // namespace vocalynx::mpris
