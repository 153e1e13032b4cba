#pragma once
// The script texts the media service sends to a music player, and their recognition by a script
// runner. The texts are fixed: a runner carries out exactly these and nothing else.

#include <QString>
#include <optional>

namespace vocalynx {

// The two players the media service follows; scripts name them in their first line.
inline const QString kMusicPlayer = QStringLiteral("Music");
inline const QString kSpotifyPlayer = QStringLiteral("Spotify");

enum class PlayerScriptKind {
    status,        // "playing||title||artist||album", "paused||...", or "stopped"
    toggle,        // play/pause
    next,          // next track, then play
    previous,      // previous track, then play
    play,
    pause,
    artworkCount,  // the number of artworks of the current track as text
    artworkData,   // the raw bytes of the first artwork
    artworkUrl,    // the address of the current track's artwork
};

// The script text of a kind for a player name. Lines are joined by a single line feed, without
// one at the end.
QString playerScript(PlayerScriptKind kind, const QString& player);

struct RecognisedPlayerScript {
    PlayerScriptKind kind;
    QString player;  // kMusicPlayer or kSpotifyPlayer
    bool operator==(const RecognisedPlayerScript&) const = default;
};

// The kind and player of a text that is exactly one of the scripts above for either player;
// none for any other text.
std::optional<RecognisedPlayerScript> recognisePlayerScript(const QString& source);

}  // namespace vocalynx
