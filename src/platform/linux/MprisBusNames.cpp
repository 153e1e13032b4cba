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

QString OwnedPlayerNames::add(const QString& busName) {
    const QString player = playerNameForBusName(busName);
    if (player.isEmpty() || names_.contains(busName)) return QString();
    names_.insert(busName);
    return ++counts_[player] == 1 ? player : QString();
}

QString OwnedPlayerNames::remove(const QString& busName) {
    if (!names_.remove(busName)) return QString();
    const QString player = playerNameForBusName(busName);
    const auto count = counts_.find(player);
    if (--count.value() > 0) return QString();
    counts_.erase(count);
    return player;
}

void OwnedPlayerNames::clear() {
    names_.clear();
    counts_.clear();
}

QSet<QString> OwnedPlayerNames::players() const {
    QSet<QString> players;
    for (auto it = counts_.cbegin(); it != counts_.cend(); ++it) players.insert(it.key());
    return players;
}

}  // namespace vocalynx::mpris
