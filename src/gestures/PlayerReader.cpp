#include "gestures/PlayerReader.h"

namespace vocalynx {

namespace {
// A text cut to the length kept, never between the two halves of a surrogate pair.
QString bounded(const QString& text) {
    if (text.size() <= PlayerReader::maxTextLength) return text;
    qsizetype length = PlayerReader::maxTextLength;
    if (text.at(length - 1).isHighSurrogate()) --length;
    return text.left(length);
}
}  // namespace

PlayerReader::PlayerReader(MusicPlayers& players, HttpClient& http, ImageDecoder& images, QUrl searchBaseUrl)
    : players_(players), http_(http), images_(images), searchBaseUrl_(std::move(searchBaseUrl)) {}

// ---- calls into the players and the catalogue ----

std::optional<PlayerReader::Reading> PlayerReader::read(const QString& player) {
    if (closed_.load()) return std::nullopt;
    {
        std::lock_guard guard(lock_);
        if (!runningPlayers_.contains(player)) return std::nullopt;
    }
    const std::optional<PlayerTrack> track = players_.status(player);
    if (!track) return std::nullopt;
    const QString title = bounded(track->title);
    const QString artist = bounded(track->artist);
    const QString album = bounded(track->album);
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
        // Music's artwork version is whether the track has artwork at all: "1" or "0".
        if (const std::optional<QString> address = players_.artworkAddress(player))
            version = address->isEmpty() ? QStringLiteral("0") : QStringLiteral("1");
    } else {
        const QString address = players_.artworkAddress(player).value_or(QString());
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
        if (player == kMusicPlayer) data = players_.artworkData(player);
        std::lock_guard guard(lock_);
        storeCopy(lastArtworkTrackKey_, std::optional(key));
        storeCopy(cachedArtworkData_, data);
    }
    return Reading{title, artist, album, track->playing, data, version};
}

bool PlayerReader::runCommand(const QString& player, PlayerCommand command) {
    if (closed_.load()) return false;
    return players_.command(player, command);
}

PlayerReader::ArtworkSearch PlayerReader::searchArtwork(const QString& title, const QString& artist,
                                                        const QString& album) {
    if (closed_.load()) return {};
    const ArtworkSearch missed{std::nullopt, true};
    const std::optional<QUrl> request = artworkSearchUrl(searchBaseUrl_, title, artist, album);
    if (!request) return missed;
    const HttpClient::Fetched answer = http_.fetch(*request);
    if (answer.busy) return {};
    if (!answer.body) return missed;
    const std::optional<QUrl> address = artworkUrlFromSearchAnswer(*answer.body, album);
    if (!address) return missed;
    HttpClient::Fetched bytes = http_.fetch(*address);
    if (bytes.busy) return {};
    if (!bytes.body) return missed;
    std::optional<RgbaImage> image = images_.decode(*bytes.body);
    if (!image) return missed;
    return {FoundArtwork{std::move(*bytes.body), std::move(*image)}, false};
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
