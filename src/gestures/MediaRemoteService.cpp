#include "gestures/MediaRemoteService.h"

#include <QStringList>
#include <mutex>

namespace vocalynx {

// What background work needs: the ports, and the running-player set and artwork cache that the
// main thread and the background queues share under one lock.
struct MediaRemoteService::Shared {
    ScriptRunner& scripts;
    HttpClient& http;
    ImageDecoder& images;
    QUrl searchBaseUrl;

    mutable std::mutex lock;
    QSet<QString> cachedRunningPlayers;
    std::optional<QString> lastArtworkTrackKey;
    std::optional<QByteArray> cachedArtworkData;

    std::optional<PlayerInfo> fetchPlayerInfo(const QString& player);
    struct Found {
        QByteArray bytes;
        RgbaImage image;
    };
    std::optional<Found> searchArtwork(const QString& title, const QString& artist, const QString& album);
};

namespace {

// Stores a copy of a value that other threads may also reference (text, bytes, images). The
// system's Qt library is not built for ThreadSanitizer, so a release of shared data inside its
// out-of-line copy-assignment operators hides the reference count's ordering from it; assigning
// from a fresh copy moves the old value into a temporary whose release happens in inline code,
// where the ordering is seen.
template <typename T, typename U>
void storeCopy(T& to, const U& from) {
    to = T(from);
}

PlayerScriptKind scriptKindFor(MediaCommand command) {
    switch (command) {
    case MediaCommand::toggle: return PlayerScriptKind::toggle;
    case MediaCommand::next: return PlayerScriptKind::next;
    case MediaCommand::previous: return PlayerScriptKind::previous;
    case MediaCommand::play: return PlayerScriptKind::play;
    case MediaCommand::pause: return PlayerScriptKind::pause;
    }
    return PlayerScriptKind::toggle;
}

}  // namespace

// ---- background reading ----

std::optional<MediaRemoteService::PlayerInfo> MediaRemoteService::Shared::fetchPlayerInfo(const QString& player) {
    {
        std::lock_guard guard(lock);
        if (!cachedRunningPlayers.contains(player)) return std::nullopt;
    }
    const std::optional<QString> reply = scripts.runScriptForString(playerScript(PlayerScriptKind::status, player));
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
        std::lock_guard guard(lock);
        storeCopy(data, cachedArtworkData);
    }
    QString version;
    if (player == kMusicPlayer) {
        version = scripts.runScriptForString(playerScript(PlayerScriptKind::artworkCount, player)).value_or(QString());
    } else {
        const QString address =
            scripts.runScriptForString(playerScript(PlayerScriptKind::artworkUrl, player)).value_or(QString());
        version = address;
        const QUrl url(address, QUrl::StrictMode);
        if (!address.isEmpty() && url.isValid()) data = http.get(url);
    }
    bool sameTrack;
    {
        std::lock_guard guard(lock);
        sameTrack = lastArtworkTrackKey && *lastArtworkTrackKey == key;
        if (sameTrack && !data) storeCopy(data, cachedArtworkData);
    }
    if (!sameTrack) {
        if (player == kMusicPlayer) data = scripts.runScriptForData(playerScript(PlayerScriptKind::artworkData, player));
        std::lock_guard guard(lock);
        storeCopy(lastArtworkTrackKey, std::optional(key));
        storeCopy(cachedArtworkData, data);
    }
    return PlayerInfo{title, artist, album, state == QLatin1String("playing"), data, version};
}

std::optional<MediaRemoteService::Shared::Found> MediaRemoteService::Shared::searchArtwork(const QString& title,
                                                                                         const QString& artist,
                                                                                         const QString& album) {
    const std::optional<QUrl> request = artworkSearchUrl(searchBaseUrl, title, artist, album);
    if (!request) return std::nullopt;
    const std::optional<QByteArray> answer = http.get(*request);
    if (!answer) return std::nullopt;
    const std::optional<QUrl> address = artworkUrlFromSearchAnswer(*answer, album);
    if (!address) return std::nullopt;
    std::optional<QByteArray> bytes = http.get(*address);
    if (!bytes) return std::nullopt;
    std::optional<RgbaImage> image = images.decode(*bytes);
    if (!image) return std::nullopt;
    return Found{std::move(*bytes), std::move(*image)};
}

// ---- the service ----

MediaRemoteService::MediaRemoteService(Dependencies deps)
    : runtime_(deps.runtime),
      players_(deps.players),
      work_(runtime_.queues.makeWorkerPool("vocalynx.media", workerThreads)),
      shared_(new Shared{deps.scripts, deps.http, deps.images, deps.searchBaseUrl, {}, {}, {}, {}}),
      self_(std::make_shared<MediaRemoteService*>(this)) {}

MediaRemoteService::~MediaRemoteService() = default;

template <typename F>
Task MediaRemoteService::onMain(F work) {
    return [weak = std::weak_ptr<MediaRemoteService*>(self_), work = std::move(work)]() mutable {
        if (auto self = weak.lock()) work(**self);
    };
}

// ---- published fields ----

#define VOCALYNX_PUBLISH(field, signalCall) \
    if (field == value) return;             \
    storeCopy(field, value);                \
    emit signalCall;                        \
    emit changed();

void MediaRemoteService::setTrackTitle(const QString& value) { VOCALYNX_PUBLISH(trackTitle_, trackTitleChanged(value)) }
void MediaRemoteService::setArtist(const QString& value) { VOCALYNX_PUBLISH(artist_, artistChanged(value)) }
void MediaRemoteService::setAlbum(const QString& value) { VOCALYNX_PUBLISH(album_, albumChanged(value)) }
void MediaRemoteService::setArtwork(const std::optional<RgbaImage>& value) { VOCALYNX_PUBLISH(artwork_, artworkChanged()) }
void MediaRemoteService::setArtworkAccentColor(const std::optional<AccentColor>& value) {
    VOCALYNX_PUBLISH(artworkAccentColor_, artworkAccentColorChanged())
}
void MediaRemoteService::setIsPlaying(bool value) { VOCALYNX_PUBLISH(isPlaying_, isPlayingChanged(value)) }
void MediaRemoteService::setActivePlayer(const QString& value) { VOCALYNX_PUBLISH(activePlayer_, activePlayerChanged(value)) }
void MediaRemoteService::setAutomationWarning(const std::optional<QString>& value) {
    VOCALYNX_PUBLISH(automationWarning_, automationWarningChanged())
}

#undef VOCALYNX_PUBLISH

// ---- monitoring ----

void MediaRemoteService::startMonitoring() {
    if (monitoring_) return;
    monitoring_ = true;
    const QSet<QString> running = players_.scanRunningPlayers();
    {
        std::lock_guard guard(shared_->lock);
        shared_->cachedRunningPlayers.clear();
        for (const QString& p : running)
            if (p == kMusicPlayer || p == kSpotifyPlayer) shared_->cachedRunningPlayers.insert(p);
    }
    auto weak = std::weak_ptr<MediaRemoteService*>(self_);
    workspaceObservers_.push_back(players_.observeLaunches([weak](const QString& player) {
        if (auto self = weak.lock()) (*self)->handleApplicationLaunch(player);
    }));
    workspaceObservers_.push_back(players_.observeTerminations([weak](const QString& player) {
        if (auto self = weak.lock()) (*self)->handleApplicationTermination(player);
    }));
    schedulePollTimer();
    pollNowPlaying();
}

void MediaRemoteService::schedulePollTimer() {
    pollTimer_ = runtime_.main.postAfterCoarse(seconds(pollInterval), onMain([](MediaRemoteService& self) {
        self.schedulePollTimer();
        self.pollNowPlaying();
    }));
}

void MediaRemoteService::handleApplicationLaunch(const QString& player) {
    if (player != kMusicPlayer && player != kSpotifyPlayer) return;
    std::lock_guard guard(shared_->lock);
    shared_->cachedRunningPlayers.insert(player);
}

void MediaRemoteService::handleApplicationTermination(const QString& player) {
    std::lock_guard guard(shared_->lock);
    shared_->cachedRunningPlayers.remove(player);
}

void MediaRemoteService::pollNowPlaying() {
    if (cachedRunningPlayers().isEmpty()) {
        clearNowPlaying();
        return;
    }
    // One reading at a time: a poll asked for while one is out runs once that one is back. Polls
    // never pile up behind a slow player or download, and a reading never overtakes a newer one.
    if (pollInFlight_) {
        pollWanted_ = true;
        return;
    }
    pollInFlight_ = true;
    work_->post([shared = shared_, main = &runtime_.main, weak = std::weak_ptr(self_)] {
        std::optional<PlayerInfo> info = shared->fetchPlayerInfo(kMusicPlayer);
        QString player = kMusicPlayer;
        if (!info) {
            info = shared->fetchPlayerInfo(kSpotifyPlayer);
            player = kSpotifyPlayer;
        }
        main->post([weak, info = std::move(info), player] {
            auto self = weak.lock();
            if (!self) return;
            MediaRemoteService& service = **self;
            service.pollInFlight_ = false;
            if (!info) {
                if (service.trackTitle_.isEmpty()) service.updateAutomationWarning();
                service.clearNowPlaying();
            } else {
                service.setAutomationWarning(std::nullopt);
                service.applyPlayerInfo(*info, player);
            }
            if (service.pollWanted_) {
                service.pollWanted_ = false;
                service.pollNowPlaying();
            }
        });
    });
}

std::optional<MediaRemoteService::PlayerInfo> MediaRemoteService::fetchPlayerInfo(const QString& player) {
    return shared_->fetchPlayerInfo(player);
}

void MediaRemoteService::applyPlayerInfo(const PlayerInfo& info, const QString& player) {
    setActivePlayer(player);
    setTrackTitle(info.title);
    setArtist(info.artist);
    setAlbum(info.album);
    setIsPlaying(info.isPlaying);

    const QString key = trackKey(player, info.title, info.artist, info.album);
    const QString stored = key + QStringLiteral("||") + info.artworkVersion;
    std::optional<QByteArray> cached;
    bool sameTrackAndVersion;
    {
        std::lock_guard guard(shared_->lock);
        sameTrackAndVersion = shared_->lastArtworkTrackKey == key && artworkVersion_ == stored;
        if (sameTrackAndVersion) {
            storeCopy(cached, shared_->cachedArtworkData);
        } else {
            storeCopy(shared_->lastArtworkTrackKey, std::optional(key));
            storeCopy(shared_->cachedArtworkData, info.artworkData);
        }
    }
    if (sameTrackAndVersion) {
        if (!artwork_ && cached)
            if (std::optional<RgbaImage> image = shared_->images.decode(*cached)) setArtwork(image);
        return;
    }
    artworkVersion_ = stored;

    if (info.artworkData) {
        if (std::optional<RgbaImage> image = shared_->images.decode(*info.artworkData)) {
            setArtwork(image);
            publishAccentColor(*image);
            return;
        }
    }
    setArtwork(std::nullopt);
    setArtworkAccentColor(std::nullopt);
    if (failedArtworkKeys_.contains(key)) return;
    if (pendingArtworkFetchKey_ == key) return;
    pendingArtworkFetchKey_ = key;
    searchArtwork(info.title, info.artist, info.album, key);
}

void MediaRemoteService::clearNowPlaying() {
    if (!trackTitle_.isEmpty()) {
        setTrackTitle(QString());
        setArtist(QString());
        setAlbum(QString());
        setArtwork(std::nullopt);
    }
    setIsPlaying(false);
    setActivePlayer(QString());
    {
        std::lock_guard guard(shared_->lock);
        shared_->lastArtworkTrackKey.reset();
        shared_->cachedArtworkData.reset();
    }
    artworkVersion_.clear();
}

// ---- commands ----

QString MediaRemoteService::targetPlayer() const {
    if (!activePlayer_.isEmpty()) return activePlayer_;
    const QSet<QString> running = cachedRunningPlayers();
    if (running.contains(kMusicPlayer)) return kMusicPlayer;
    if (running.contains(kSpotifyPlayer)) return kSpotifyPlayer;
    return QString();
}

bool MediaRemoteService::sendCommand(MediaCommand command) {
    const QString player = activePlayer_.isEmpty() ? targetPlayer() : activePlayer_;
    if (player.isEmpty()) return false;
    switch (command) {
    case MediaCommand::toggle: setIsPlaying(!isPlaying_); break;
    case MediaCommand::next:
    case MediaCommand::previous:
    case MediaCommand::play: setIsPlaying(true); break;
    case MediaCommand::pause: setIsPlaying(false); break;
    }
    runScriptThenRefresh(playerScript(scriptKindFor(command), player));
    return true;
}

void MediaRemoteService::runScriptThenRefresh(const QString& script) {
    work_->post([shared = shared_, script, main = &runtime_.main,
                                                     weak = std::weak_ptr(self_)] {
        const bool ok = shared->scripts.runScript(script);
        main->post([weak, ok] {
            auto self = weak.lock();
            if (!self) return;
            if (ok) {
                (*self)->setAutomationWarning(std::nullopt);
                (*self)->scheduleRefreshPolls();
            } else {
                (*self)->updateAutomationWarning();
            }
        });
    });
}

void MediaRemoteService::scheduleRefreshPolls() {
    for (double delay : refreshPollDelays)
        runtime_.main.postAfter(seconds(delay), onMain([](MediaRemoteService& self) { self.pollNowPlaying(); }));
}

QString MediaRemoteService::automationWarningText(const QSet<QString>& runningPlayers) {
    QStringList names(runningPlayers.begin(), runningPlayers.end());
    names.sort();
    return QStringLiteral("请在系统设置 → 隐私与安全性 → 自动化中允许 Vocalynx 控制 ") + names.join(QStringLiteral(" / ")) +
           QStringLiteral("。");
}

void MediaRemoteService::updateAutomationWarning() {
    const QSet<QString> running = cachedRunningPlayers();
    if (running.isEmpty())
        setAutomationWarning(std::nullopt);
    else
        setAutomationWarning(automationWarningText(running));
}

// ---- around a recording ----

void MediaRemoteService::pauseForRecording() {
    wasPlayingBeforeRecording_ = isPlaying_;
    playerBeforeRecording_ = activePlayer_;
    if (isPlaying_ && !activePlayer_.isEmpty()) sendCommand(MediaCommand::pause);
}

void MediaRemoteService::resumeAfterRecording() {
    if (wasPlayingBeforeRecording_ && !playerBeforeRecording_.isEmpty())
        runScriptThenRefresh(playerScript(PlayerScriptKind::play, playerBeforeRecording_));
    wasPlayingBeforeRecording_ = false;
    playerBeforeRecording_.clear();
}

// ---- artwork ----

void MediaRemoteService::searchArtwork(const QString& title, const QString& artist, const QString& album,
                                       const QString& key) {
    work_->post([shared = shared_, main = &runtime_.main, weak = std::weak_ptr(self_),
                                               title, artist, album, key] {
        std::optional<Shared::Found> found = shared->searchArtwork(title, artist, album);
        main->post([weak, key, found = std::move(found)] {
            auto self = weak.lock();
            if (!self) return;
            if (found)
                (*self)->applySearchedArtwork(key, found->bytes, found->image);
            else
                (*self)->markArtworkFailed(key);
        });
    });
}

void MediaRemoteService::applySearchedArtwork(const QString& key, const QByteArray& bytes, const RgbaImage& image) {
    if (!pendingArtworkFetchKey_ || *pendingArtworkFetchKey_ != key) return;
    {
        std::lock_guard guard(shared_->lock);
        if (!shared_->lastArtworkTrackKey || *shared_->lastArtworkTrackKey != key) return;
        storeCopy(shared_->cachedArtworkData, std::optional(bytes));
    }
    setArtwork(image);
    publishAccentColor(image);
}

void MediaRemoteService::markArtworkFailed(const QString& key) { failedArtworkKeys_.insert(key); }

void MediaRemoteService::publishAccentColor(const RgbaImage& image) {
    // The colour is published only while the same track and artwork are shown: a colour computed
    // for the previous track must not land on the next one's artwork.
    work_->post(
        [image, main = &runtime_.main, weak = std::weak_ptr(self_), stamp = artworkVersion_] {
            const std::optional<AccentColor> color = accentColor(image);
            main->post([weak, color, stamp] {
                auto self = weak.lock();
                if (self && (*self)->artworkVersion_ == stamp) (*self)->setArtworkAccentColor(color);
            });
        });
}

// ---- state ----

QSet<QString> MediaRemoteService::cachedRunningPlayers() const {
    std::lock_guard guard(shared_->lock);
    return shared_->cachedRunningPlayers;
}

std::optional<QString> MediaRemoteService::lastArtworkTrackKey() const {
    std::lock_guard guard(shared_->lock);
    return shared_->lastArtworkTrackKey;
}

std::optional<QByteArray> MediaRemoteService::cachedArtworkData() const {
    std::lock_guard guard(shared_->lock);
    return shared_->cachedArtworkData;
}

}  // namespace vocalynx
