#pragma once
// How the supported players map onto MPRIS players on the session bus: "Spotify" is
// org.mpris.MediaPlayer2.spotify; "Music" is the first other MPRIS player by name. Our own MPRIS
// player never counts as either, nor does a player proxy: playerctld passes whatever it is sent on
// to the player it thinks active, which is often ours.

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

namespace vocalynx::mpris {

inline const QString kBusNamePrefix = QStringLiteral("org.mpris.MediaPlayer2.");
inline const QString kOwnBusName = QStringLiteral("org.mpris.MediaPlayer2.vocalynx");
inline const QString kSpotifyBusName = QStringLiteral("org.mpris.MediaPlayer2.spotify");
inline const QString kProxyBusName = QStringLiteral("org.mpris.MediaPlayer2.playerctld");
inline const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
inline const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

// "Spotify", "Music", or empty for a name that is no other program's MPRIS player.
QString playerNameForBusName(const QString& busName);
// The bus names that stand for the player among the given names, the first choice first.
QStringList busNamesForPlayer(const QString& player, QStringList busNames);
// The supported players the given bus names stand for.
QSet<QString> runningPlayers(const QStringList& busNames);

// The owned bus names that stand for a supported player, counted per player, so that a name
// gained or lost costs the same however many names the bus holds.
class OwnedPlayerNames {
public:
    // The player that starts running with this name, or empty.
    QString add(const QString& busName);
    // The player that stops running without this name, or empty.
    QString remove(const QString& busName);
    void clear();
    QSet<QString> players() const;

private:
    QSet<QString> names_;
    QHash<QString, qsizetype> counts_;  // never holds a zero
};

}  // namespace vocalynx::mpris
