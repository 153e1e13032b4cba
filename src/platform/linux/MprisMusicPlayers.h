#pragma once
// The music players over MPRIS on the session bus. "Spotify" is org.mpris.MediaPlayer2.spotify,
// "Music" the first other player by name (MprisBusNames.h); a player proxy, and any player found
// to relay our commands back to our own player (MprisRelays.h), is never either. Thread-safe:
// calls block the calling (background) thread only, each bus call for at most the timeout.

#include <QDBusConnection>
#include <QHash>
#include <QVariantMap>
#include <mutex>

#include "platform/HttpClient.h"
#include "platform/MusicPlayers.h"
#include "platform/linux/MprisRelays.h"

namespace vocalynx {

class MprisMusicPlayers final : public MusicPlayers {
public:
    // The HTTP client fetches the bytes behind a player's artwork address.
    MprisMusicPlayers(HttpClient& http, MprisRelays& relays, QDBusConnection connection = QDBusConnection::sessionBus(),
                      int timeoutMs = 1500);

    std::optional<PlayerTrack> status(const QString& player) override;
    bool command(const QString& player, PlayerCommand command) override;
    std::optional<QString> artworkAddress(const QString& player) override;
    std::optional<QByteArray> artworkData(const QString& player) override;

private:
    struct Target {
        QString busName;
        QString owner;  // the unique name of the connection that holds it
    };
    // The first argument of the bus's answer to a call of its own; invalid on failure.
    QVariant askBus(const QString& method, const QVariantList& arguments) const;
    // The bus name that stands for the player now, skipping relays; empty when none runs.
    Target resolve(const QString& player) const;
    bool call(const QString& busName, const QString& method) const;
    std::optional<QVariant> property(const QString& busName, const QString& name) const;
    std::optional<QVariantMap> metadata(const QString& busName) const;

    HttpClient& http_;
    MprisRelays& relays_;
    QDBusConnection connection_;
    int timeoutMs_;
    // Per player name, the player our last pause reached: the play after it resumes that one.
    std::mutex pausedMutex_;
    QHash<QString, Target> pausedTargets_;
};

}  // namespace vocalynx
