#include "gestures/PlayerReader.h"

#include <QStringList>

#include "platform/PlayerScripts.h"

namespace vocalynx {

PlayerReader::PlayerReader(ScriptRunner& scripts, HttpClient& http, ImageDecoder& images, QUrl searchBaseUrl)
    : scripts_(scripts), http_(http), images_(images), searchBaseUrl_(std::move(searchBaseUrl)) {}

// ---- calls into the players and the catalogue ----

std::optional<PlayerReader::Reading> PlayerReader::read(const QString& player) {
    if (closed_.load()) return std::nullopt;
    {
        std::lock_guard guard(lock_);
        if (!runningPlayers_.contains(player)) return std::nullopt;
    }
    const std::optional<QString> reply = scripts_.runScriptForString(playerScript(PlayerScriptKind::status, player));
    if (!reply || *reply == QLatin1String("stopped")) return std::nullopt;
    const QStringList parts = reply->split(QStringLiteral("||"));
    if (parts.size() < 4) return std::nullopt;
    const QString& state = parts[0];
    const QString& title = parts[1];
    const QString& artist = parts[2];
    const QString& album = parts[3];
    if (title.isEmpty()) return std::nullopt;

    // Artwork: the Music bytes are asked for once per track; the Spotify address is downloaded on
    // every reading.
    const QString key = trackKey(player, title, artist, album);
    // A Spotify reading starts from whatever bytes are cached (a new track without an address keeps
    // showing the last image). A Music reading takes the cached bytes only together with the check
    // that they belong to its track: another reading may replace the cache at any moment between.
    std::optional<QByteArray> data;
    if (player != kMusicPlayer) {
        std::lock_guard guard(lock_);
        storeCopy(data, cachedArtworkData_);
    }
    QString version;
    if (player == kMusicPlayer) {
        version = scripts_.runScriptForString(playerScript(PlayerScriptKind::artworkCount, player)).value_or(QString());
    } else {
        const QString address =
            scripts_.runScriptForString(playerScript(PlayerScriptKind::artworkUrl, player)).value_or(QString());
        version = address;
        const QUrl url(address, QUrl::StrictMode);
        if (!address.isEmpty() && url.isValid()) data = http_.get(url);
    }
    bool sameTrack;
    {
        std::lock_guard guard(lock_);
        sameTrack = lastArtworkTrackKey_ && *lastArtworkTrackKey_ == key;
        if (sameTrack && !data) storeCopy(data, cachedArtworkData_);
    }
    if (!sameTrack) {
        if (player == kMusicPlayer) data = scripts_.runScriptForData(playerScript(PlayerScriptKind::artworkData, player));
        std::lock_guard guard(lock_);
        storeCopy(lastArtworkTrackKey_, std::optional(key));
        storeCopy(cachedArtworkData_, data);
    }
    return Reading{title, artist, album, state == QLatin1String("playing"), data, version};
}

bool PlayerReader::runCommand(const QString& script) {
    if (closed_.load()) return false;
    return scripts_.runScript(script);
}

std::optional<PlayerReader::FoundArtwork> PlayerReader::searchArtwork(const QString& title, const QString& artist,
                                                                      const QString& album) {
    if (closed_.load()) return std::nullopt;
    const std::optional<QUrl> request = artworkSearchUrl(searchBaseUrl_, title, artist, album);
    if (!request) return std::nullopt;
    const std::optional<QByteArray> answer = http_.get(*request);
    if (!answer) return std::nullopt;
    const std::optional<QUrl> address = artworkUrlFromSearchAnswer(*answer, album);
    if (!address) return std::nullopt;
    std::optional<QByteArray> bytes = http_.get(*address);
    if (!bytes) return std::nullopt;
    std::optional<RgbaImage> image = images_.decode(*bytes);
    if (!image) return std::nullopt;
    return FoundArtwork{std::move(*bytes), std::move(*image)};
}

// ---- the running players ----

void PlayerReader::setRunningPlayers(const QSet<QString>& running) {
    std::lock_guard guard(lock_);
    runningPlayers_.clear();
    for (const QString& p : running)
        if (p == kMusicPlayer || p == kSpotifyPlayer) runningPlayers_.insert(p);
}

void PlayerReader::playerLaunched(const QString& player) {
    if (player != kMusicPlayer && player != kSpotifyPlayer) return;
    std::lock_guard guard(lock_);
    runningPlayers_.insert(player);
}

void PlayerReader::playerTerminated(const QString& player) {
    std::lock_guard guard(lock_);
    runningPlayers_.remove(player);
}

QSet<QString> PlayerReader::runningPlayers() const {
    std::lock_guard guard(lock_);
    return runningPlayers_;
}

// ---- the artwork cache ----

std::optional<QString> PlayerReader::cachedTrackKey() const {
    std::lock_guard guard(lock_);
    return lastArtworkTrackKey_;
}

std::optional<QByteArray> PlayerReader::cachedArtwork() const {
    std::lock_guard guard(lock_);
    return cachedArtworkData_;
}

bool PlayerReader::keepOrReplace(const QString& key, bool versionUnchanged, const std::optional<QByteArray>& bytes,
                                 std::optional<QByteArray>& cached) {
    std::lock_guard guard(lock_);
    if (lastArtworkTrackKey_ == key && versionUnchanged) {
        storeCopy(cached, cachedArtworkData_);
        return true;
    }
    storeCopy(lastArtworkTrackKey_, std::optional(key));
    storeCopy(cachedArtworkData_, bytes);
    return false;
}

bool PlayerReader::storeSearched(const QString& key, const QByteArray& bytes) {
    std::lock_guard guard(lock_);
    if (!lastArtworkTrackKey_ || *lastArtworkTrackKey_ != key) return false;
    storeCopy(cachedArtworkData_, std::optional(bytes));
    return true;
}

void PlayerReader::clearCache() {
    std::lock_guard guard(lock_);
    lastArtworkTrackKey_.reset();
    cachedArtworkData_.reset();
}

}  // namespace vocalynx
