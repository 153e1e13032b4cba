#pragma once
// MPRIS players that pass the commands they are sent on to another player, found out when a
// command of ours comes back to our own player (MprisPlayerService). The side that commands other
// players marks each connection it sends to; our player asks whether a call it receives is such a
// command coming back, and the sender is then a relay, never again a player to command or read.
// Thread-safe: commands go out on background threads, our player's calls arrive on the main one.

#include <QHash>
#include <QSet>
#include <QString>
#include <chrono>
#include <mutex>

namespace vocalynx {

class MprisRelays {
public:
    using Clock = std::chrono::steady_clock;
    // A call from the connection that came within this time of our command to it is that command
    // coming back (a relay may answer us before its own call to our player arrives).
    static constexpr std::chrono::milliseconds kEchoWindow{2000};

    // A command is being sent to the connection `owner` (a unique bus name such as ":1.42").
    void sending(const QString& owner);
    // True when a call to our player from the connection `sender` is a command of ours coming
    // back; the sender is then remembered as a relay.
    bool isEcho(const QString& sender);
    bool isRelay(const QString& owner) const;
    // Remembers a connection as a relay found some other way (it shows our own player's track).
    void addRelay(const QString& owner);

private:
    static constexpr qsizetype kMaxRemembered = 64;  // connections are few; a flood is forgotten
    mutable std::mutex mutex_;
    QHash<QString, Clock::time_point> sentAt_;
    QSet<QString> relays_;
};

}  // namespace vocalynx
