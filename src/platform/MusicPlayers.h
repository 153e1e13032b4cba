#pragma once
// The music players the media service follows and commands, by name: "Music" and "Spotify".
// Every member may be called from several background threads at once and blocks until the
// player has answered or a short timeout has passed; a player that does not run, or does not
// answer in time, gives none (false).

#include <QByteArray>
#include <QString>
#include <optional>

namespace vocalynx {

inline const QString kMusicPlayer = QStringLiteral("Music");
inline const QString kSpotifyPlayer = QStringLiteral("Spotify");

enum class PlayerCommand {
    play,   // after a pause: the very player that pause reached; nothing (and true) once it has gone
    pause,
    toggle,    // play or pause
    next,      // the next track, playing
    previous,  // the previous track, playing
};

// The current track of a player that plays or is paused, as the player names it.
struct PlayerTrack {
    bool playing = false;  // otherwise paused
    QString title;
    QString artist;
    QString album;
    bool operator==(const PlayerTrack&) const = default;
};

class MusicPlayers {
public:
    virtual ~MusicPlayers() = default;
    // The track of a playing or paused player; none when it is stopped or cannot be read.
    virtual std::optional<PlayerTrack> status(const QString& player) = 0;
    // True when the player took the command.
    virtual bool command(const QString& player, PlayerCommand command) = 0;
    // The address of the current track's artwork, empty when the track has none.
    virtual std::optional<QString> artworkAddress(const QString& player) = 0;
    // The bytes of the current track's artwork; none when it has none or they cannot be had.
    virtual std::optional<QByteArray> artworkData(const QString& player) = 0;
};

}  // namespace vocalynx
