#include "gestures/MediaRemoteService.h"

#include <QStringList>

namespace vocalynx {

namespace {

PlayerCommand playerCommandFor(MediaCommand command) {
    switch (command) {
    case MediaCommand::toggle: return PlayerCommand::toggle;
    case MediaCommand::next: return PlayerCommand::next;
    case MediaCommand::previous: return PlayerCommand::previous;
    case MediaCommand::play: return PlayerCommand::play;
    case MediaCommand::pause: return PlayerCommand::pause;
    }
    return PlayerCommand::toggle;
}

// The hint shown when supported players run but none can be read: they did not answer.
QString automationWarningText(const QSet<QString>& runningPlayers) {
    QStringList names(runningPlayers.begin(), runningPlayers.end());
    names.sort();
    return names.join(QStringLiteral(" / ")) + QStringLiteral(" 没有响应，暂时无法读取或控制播放。");
}

}  // namespace

MediaRemoteService::MediaRemoteService(Dependencies deps)
    : runtime_(deps.runtime),
      players_(deps.players),
      work_(runtime_.queues.makeWorkerPool("vocalynx.media", workerThreads)),
      commands_(runtime_.queues.makeSerialQueue("vocalynx.media.commands")),
      reader_(std::make_shared<PlayerReader>(deps.musicPlayers, deps.http, deps.images, deps.searchBaseUrl)),
      weak_(this, &deps.runtime.main, "MediaRemoteService") {}

MediaRemoteService::~MediaRemoteService() {
    weak_.invalidate();
    // The pool and the command queue outlive the service: what they have not started yet must not
    // call the ports.
    reader_->close();
    pollTimer_.cancel();
}

template <typename F>
void MediaRemoteService::postToMain(MainQueue& main, const WeakRef<MediaRemoteService>& ref, F work) {
    main.post([ref, work = std::move(work)]() mutable {
        if (MediaRemoteService* self = ref.get()) work(*self);
    });
}

// ---- published fields ----

#define VOCALYNX_PUBLISH(field, signalCall)                                 \
    assertOnSequence(runtime_.main, "MediaRemoteService published field"); \
    if (field == value) return;                                            \
    storeCopy(field, value);                                               \
    emit signalCall;                                                       \
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
    assertOnSequence(runtime_.main, "MediaRemoteService::startMonitoring");
    if (monitoring_) return;
    monitoring_ = true;
    reader_->setRunningPlayers(players_.scanRunningPlayers());
    // The source calls its observers on the main thread.
    workspaceObservers_.push_back(players_.observeLaunches([ref = weak_.weak()](const QString& player) {
        if (MediaRemoteService* self = ref.get()) self->handleApplicationLaunch(player);
    }));
    workspaceObservers_.push_back(players_.observeTerminations([ref = weak_.weak()](const QString& player) {
        if (MediaRemoteService* self = ref.get()) self->handleApplicationTermination(player);
    }));
    schedulePollTimer();
    pollNowPlaying();
}

void MediaRemoteService::schedulePollTimer() {
    pollTimer_ = runtime_.main.postAfterCoarse(seconds(pollInterval), weak_.bind([](MediaRemoteService& self) {
        self.schedulePollTimer();
        self.pollNowPlaying();
    }));
}

void MediaRemoteService::handleApplicationLaunch(const QString& player) { reader_->playerLaunched(player); }

void MediaRemoteService::handleApplicationTermination(const QString& player) { reader_->playerTerminated(player); }

void MediaRemoteService::pollNowPlaying() {
    assertOnSequence(runtime_.main, "MediaRemoteService::pollNowPlaying");
    if (reader_->runningPlayers().isEmpty()) {
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
    work_->post([reader = reader_, main = &runtime_.main, ref = weak_.weak()] {
        std::optional<PlayerReader::Reading> info = reader->read(kMusicPlayer);
        QString player = kMusicPlayer;
        if (!info) {
            info = reader->read(kSpotifyPlayer);
            player = kSpotifyPlayer;
        }
        postToMain(*main, ref, [info = std::move(info), player](MediaRemoteService& service) {
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

void MediaRemoteService::applyPlayerInfo(const PlayerReader::Reading& info, const QString& player) {
    setActivePlayer(player);
    setTrackTitle(info.title);
    setArtist(info.artist);
    setAlbum(info.album);
    setIsPlaying(info.isPlaying);

    const QString key = trackKey(player, info.title, info.artist, info.album);
    const QString stored = key + QStringLiteral("||") + info.artworkVersion;
    std::optional<QByteArray> cached;
    if (reader_->keepOrReplace(key, artworkVersion_ == stored, info.artworkData, cached)) {
        if (!artwork_ && cached)
            if (std::optional<RgbaImage> image = reader_->decode(*cached)) setArtwork(image);
        return;
    }
    artworkVersion_ = stored;

    if (info.artworkData) {
        if (std::optional<RgbaImage> image = reader_->decode(*info.artworkData)) {
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
    reader_->clearCache();
    artworkVersion_.clear();
}

// ---- commands ----

QString MediaRemoteService::targetPlayer() const {
    if (!activePlayer_.isEmpty()) return activePlayer_;
    const QSet<QString> running = reader_->runningPlayers();
    if (running.contains(kMusicPlayer)) return kMusicPlayer;
    if (running.contains(kSpotifyPlayer)) return kSpotifyPlayer;
    return QString();
}

bool MediaRemoteService::sendCommand(MediaCommand command) {
    assertOnSequence(runtime_.main, "MediaRemoteService::sendCommand");
    const QString player = activePlayer_.isEmpty() ? targetPlayer() : activePlayer_;
    if (player.isEmpty()) return false;
    switch (command) {
    case MediaCommand::toggle: setIsPlaying(!isPlaying_); break;
    case MediaCommand::next:
    case MediaCommand::previous:
    case MediaCommand::play: setIsPlaying(true); break;
    case MediaCommand::pause: setIsPlaying(false); break;
    }
    runCommandThenRefresh(player, playerCommandFor(command));
    return true;
}

void MediaRemoteService::runCommandThenRefresh(const QString& player, PlayerCommand command) {
    // Each call waits at most for the players' timeout, so a slow player delays the commands after
    // it by that much at most, and never reorders them.
    commands_->post([reader = reader_, player, command, main = &runtime_.main, ref = weak_.weak()] {
        const bool ok = reader->runCommand(player, command);
        postToMain(*main, ref, [ok](MediaRemoteService& self) {
            if (ok) {
                self.setAutomationWarning(std::nullopt);
                self.scheduleRefreshPolls();
            } else {
                self.updateAutomationWarning();
            }
        });
    });
}

void MediaRemoteService::scheduleRefreshPolls() {
    for (double delay : refreshPollDelays)
        runtime_.main.postAfter(seconds(delay), weak_.bind([](MediaRemoteService& self) { self.pollNowPlaying(); }));
}

void MediaRemoteService::updateAutomationWarning() {
    const QSet<QString> running = reader_->runningPlayers();
    if (running.isEmpty())
        setAutomationWarning(std::nullopt);
    else
        setAutomationWarning(automationWarningText(running));
}

// ---- around a recording ----

void MediaRemoteService::pauseForRecording() {
    assertOnSequence(runtime_.main, "MediaRemoteService::pauseForRecording");
    wasPlayingBeforeRecording_ = isPlaying_;
    playerBeforeRecording_ = activePlayer_;
    if (isPlaying_ && !activePlayer_.isEmpty()) sendCommand(MediaCommand::pause);
}

void MediaRemoteService::resumeAfterRecording() {
    assertOnSequence(runtime_.main, "MediaRemoteService::resumeAfterRecording");
    if (wasPlayingBeforeRecording_ && !playerBeforeRecording_.isEmpty())
        runCommandThenRefresh(playerBeforeRecording_, PlayerCommand::play);
    wasPlayingBeforeRecording_ = false;
    playerBeforeRecording_.clear();
}

// ---- artwork ----

void MediaRemoteService::searchArtwork(const QString& title, const QString& artist, const QString& album,
                                       const QString& key) {
    work_->post([reader = reader_, main = &runtime_.main, ref = weak_.weak(), title, artist, album, key] {
        PlayerReader::ArtworkSearch search = reader->searchArtwork(title, artist, album);
        postToMain(*main, ref, [key, search = std::move(search)](MediaRemoteService& self) {
            if (search.found) {
                self.applySearchedArtwork(key, search.found->bytes, search.found->image);
            } else if (search.missed) {
                if (self.failedArtworkKeys_.size() >= maxFailedArtworkKeys) self.failedArtworkKeys_.clear();
                self.failedArtworkKeys_.insert(key);
            } else {
                self.retrySearchLater(key);
            }
        });
    });
}

void MediaRemoteService::applySearchedArtwork(const QString& key, const QByteArray& bytes, const RgbaImage& image) {
    if (!pendingArtworkFetchKey_ || *pendingArtworkFetchKey_ != key) return;
    if (!reader_->storeSearched(key, bytes)) return;
    setArtwork(image);
    publishAccentColor(image);
}

void MediaRemoteService::retrySearchLater(const QString& key) {
    if (!pendingArtworkFetchKey_ || *pendingArtworkFetchKey_ != key) return;
    pendingArtworkFetchKey_.reset();
    // Publishing the track's next reading runs again, and with it the search.
    if (artworkVersion_.startsWith(key + QStringLiteral("||"))) artworkVersion_.clear();
}

void MediaRemoteService::publishAccentColor(const RgbaImage& image) {
    // The colour is published only while the same track and artwork are shown: a colour computed
    // for the previous track must not land on the next one's artwork.
    work_->post([image, main = &runtime_.main, ref = weak_.weak(), stamp = artworkVersion_] {
        const std::optional<AccentColor> color = accentColor(image);
        postToMain(*main, ref, [color, stamp](MediaRemoteService& self) {
            if (self.artworkVersion_ == stamp) self.setArtworkAccentColor(color);
        });
    });
}

// ---- bookkeeping ----

MediaRemoteService::Bookkeeping MediaRemoteService::bookkeeping() const {
    assertOnSequence(runtime_.main, "MediaRemoteService::bookkeeping");
    return Bookkeeping{monitoring_,
                       reader_->runningPlayers(),
                       targetPlayer(),
                       reader_->cachedTrackKey(),
                       reader_->cachedArtwork(),
                       artworkVersion_,
                       pendingArtworkFetchKey_,
                       failedArtworkKeys_,
                       wasPlayingBeforeRecording_,
                       playerBeforeRecording_};
}

}  // namespace vocalynx
