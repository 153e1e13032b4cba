#pragma once
// The media service's blocking side: reads the supported players, sends them commands, searches
// artwork in the music catalogue, and keeps what those readings share with the main thread: the
// set of running players and the artwork cache of the last track read.
//
// Threads: every member may be called from any thread. The reading, command and search calls
// block (players, downloads) and run on the service's worker pool; the set and the cache
// are guarded by one lock, held only for short copies, never across a call into a port.

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QUrl>
#include <atomic>
#include <mutex>
#include <optional>

#include "gestures/AlbumArtwork.h"
#include "platform/HttpClient.h"
#include "platform/ImageDecoder.h"
#include "platform/MusicPlayers.h"

namespace vocalynx {

// Stores a copy of a value that other threads may also reference (text, bytes, images). The
// system's Qt library is not built for ThreadSanitizer, so a release of shared data inside its
// out-of-line copy-assignment operators hides the reference count's ordering from it; assigning
// from a fresh copy moves the old value into a temporary whose release happens in inline code,
// where the ordering is seen.
template <typename T, typename U>
void storeCopy(T& to, const U& from) {
    to = T(from);
}

class PlayerReader {
public:
    // One reading of a player.
    struct Reading {
        QString title;
        QString artist;
        QString album;
        bool isPlaying = false;
        std::optional<QByteArray> artworkData;
        QString artworkVersion;  // Music: the artwork count; Spotify: the artwork address
    };
    struct FoundArtwork {
        QByteArray bytes;
        RgbaImage image;
    };
    // What an artwork search gave: the artwork; or none, and `missed` when the catalogue has none
    // for the track, not when a download could not even start (its address was being fetched).
    struct ArtworkSearch {
        std::optional<FoundArtwork> found;
        bool missed = false;
    };
    // The most of a title, artist or album that is kept: a player's texts are untrusted.
    static constexpr qsizetype maxTextLength = 1000;

    PlayerReader(MusicPlayers& players, HttpClient& http, ImageDecoder& images, QUrl searchBaseUrl);
    PlayerReader(const PlayerReader&) = delete;
    PlayerReader& operator=(const PlayerReader&) = delete;

    // ---- calls into the players and the catalogue (blocking) ----
    // Reads one player: none when it does not run, cannot be read, is stopped or has no title.
    // Title, artist and album are cut to maxTextLength. The artwork comes from the cache when it
    // already holds this track.
    std::optional<Reading> read(const QString& player);
    // Sends a command to a player; true when the player took it.
    bool runCommand(const QString& player, PlayerCommand command);
    // The artwork of a track from the catalogue search, downloaded and decoded.
    ArtworkSearch searchArtwork(const QString& title, const QString& artist, const QString& album);
    std::optional<RgbaImage> decode(const QByteArray& bytes) const { return images_.decode(bytes); }
    // After closing, the blocking calls return none (false) at once without calling a port: work
    // still queued when its service goes away never reaches the ports. Calls already in a port
    // finish. Idempotent.
    void close() { closed_.store(true); }

    // ---- the running players ----
    // Keeps the supported players among `running`.
    void setRunningPlayers(const QSet<QString>& running);
    void playerLaunched(const QString& player);
    void playerTerminated(const QString& player);
    QSet<QString> runningPlayers() const;

    // ---- the artwork cache: the last track read and its bytes ----
    std::optional<QString> cachedTrackKey() const;
    std::optional<QByteArray> cachedArtwork() const;
    // For a reading being published: true, with the cached bytes in `cached`, when the cache is
    // already for the track `key` and `versionUnchanged`; otherwise false, and the cache now holds
    // `bytes` for `key`.
    bool keepOrReplace(const QString& key, bool versionUnchanged, const std::optional<QByteArray>& bytes,
                       std::optional<QByteArray>& cached);
    // Stores a searched artwork's bytes only while the cache is for the track `key`; true then.
    bool storeSearched(const QString& key, const QByteArray& bytes);
    void clearCache();

private:
    MusicPlayers& players_;
    HttpClient& http_;
    ImageDecoder& images_;
    const QUrl searchBaseUrl_;
    std::atomic<bool> closed_{false};

    mutable std::mutex lock_;
    QSet<QString> runningPlayers_;
    std::optional<QString> lastArtworkTrackKey_;
    std::optional<QByteArray> cachedArtworkData_;
};

}  // namespace vocalynx
