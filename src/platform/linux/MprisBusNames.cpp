#include "platform/linux/MprisBusNames.h"

#include "platform/PlayerScripts.h"

namespace vocalynx::mpris {

QString playerNameForBusName(const QString& busName) {
    if (!busName.startsWith(kBusNamePrefix) || busName.size() == kBusNamePrefix.size()) return QString();
    if (busName == kOwnBusName || busName.startsWith(kOwnBusName + QLatin1Char('.'))) return QString();
    if (busName == kSpotifyBusName) return kSpotifyPlayer;
    return kMusicPlayer;
}

QString busNameForPlayer(const QString& player, QStringList busNames) {
    busNames.sort();
    for (const QString& name : busNames)
        if (playerNameForBusName(name) == player && !player.isEmpty()) return name;
    return QString();
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
