#pragma once
// The media service: follows the music player that plays on the machine ("Music" or "Spotify"),
// publishes its track, artwork and play state, sends it transport commands, and pauses it for the
// length of a recording.
//
// Threads: everything public runs on the main thread, except fetchPlayerInfo (a background queue).
// Player scripts, artwork downloads, the artwork search and the accent colour run on a small
// worker pool of the service's own: a player or a server that answers slowly (or never) can hold
// its threads, but never a thread of the shared pool, where the dictation's work runs. Their
// results come back on the main queue. The published fields change only on the main
// thread, and each change is announced by its signal (and by changed()) right after it.

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

#include "engine/EngineCollaborators.h"
#include "gestures/AlbumArtwork.h"
#include "platform/HttpClient.h"
#include "platform/ImageDecoder.h"
#include "platform/PlayerScripts.h"
#include "platform/RunningPlayers.h"
#include "platform/Runtime.h"
#include "platform/ScriptRunner.h"

namespace vocalynx {

// Transport command codes.
enum class MediaCommand : int { toggle = 0, next = 1, previous = 2, play = 3, pause = 4 };

class MediaRemoteService : public QObject, public MediaPauseControl {
    Q_OBJECT

public:
    // One reading of a player.
    struct PlayerInfo {
        QString title;
        QString artist;
        QString album;
        bool isPlaying = false;
        std::optional<QByteArray> artworkData;
        QString artworkVersion;  // Music: the artwork count; Spotify: the artwork address
    };

    struct Dependencies {
        Runtime& runtime;
        ScriptRunner& scripts;
        RunningPlayerSource& players;
        HttpClient& http;
        ImageDecoder& images;
        QUrl searchBaseUrl = QUrl(QString::fromLatin1(kMusicSearchBaseUrl));
    };

    static constexpr double pollInterval = 5.0;
    // Threads of the service's own pool: enough that a command still finds one while a poll and a
    // search wait on slow downloads (each ends by the download deadline).
    static constexpr unsigned workerThreads = 4;
    static constexpr double refreshPollDelays[3] = {0.12, 0.45, 0.9};

    explicit MediaRemoteService(Dependencies deps);
    ~MediaRemoteService() override;

    // ---- published (main thread) ----
    QString trackTitle() const { return trackTitle_; }
    QString artist() const { return artist_; }
    QString album() const { return album_; }
    const std::optional<RgbaImage>& artwork() const { return artwork_; }
    std::optional<AccentColor> artworkAccentColor() const { return artworkAccentColor_; }
    bool isPlaying() const { return isPlaying_; }
    QString activePlayer() const { return activePlayer_; }
    std::optional<QString> automationWarning() const { return automationWarning_; }

    // Writers of the published fields (the service itself, and the screenshot mode's sample
    // values). Each announces a change of value.
    void setTrackTitle(const QString& value);
    void setArtist(const QString& value);
    void setAlbum(const QString& value);
    void setArtwork(const std::optional<RgbaImage>& value);
    void setArtworkAccentColor(const std::optional<AccentColor>& value);
    void setIsPlaying(bool value);
    void setActivePlayer(const QString& value);
    void setAutomationWarning(const std::optional<QString>& value);

    // ---- following the players (main thread) ----
    // Takes the running players, observes their starts and stops, polls every 5 s and once now.
    // A second call does nothing.
    void startMonitoring();
    bool isMonitoring() const { return monitoring_; }
    // One reading at a time: a poll asked for while a reading is out runs once, after it.
    void pollNowPlaying();
    // Reads one player (background queue): none when it does not run, cannot be read, is stopped
    // or has no title.
    std::optional<PlayerInfo> fetchPlayerInfo(const QString& player);
    void applyPlayerInfo(const PlayerInfo& info, const QString& player);
    void clearNowPlaying();

    // ---- commands (main thread) ----
    // True when a target player was found and the command's script was queued.
    bool sendCommand(MediaCommand command);
    // The player a command goes to, or empty.
    QString targetPlayer() const;
    void scheduleRefreshPolls();
    void updateAutomationWarning();
    // The hint shown when supported players run but none can be read.
    static QString automationWarningText(const QSet<QString>& runningPlayers);

    // ---- around a recording (main thread; the speech engine calls these) ----
    void pauseForRecording() override;
    void resumeAfterRecording() override;

    // ---- artwork (main thread unless noted) ----
    void applySearchedArtwork(const QString& key, const QByteArray& bytes, const RgbaImage& image);
    void markArtworkFailed(const QString& key);
    void publishAccentColor(const RgbaImage& image);

    // ---- state, for observers that need more than the published fields ----
    QSet<QString> cachedRunningPlayers() const;
    std::optional<QString> lastArtworkTrackKey() const;
    std::optional<QByteArray> cachedArtworkData() const;
    QString artworkVersion() const { return artworkVersion_; }
    std::optional<QString> pendingArtworkFetchKey() const { return pendingArtworkFetchKey_; }
    const QSet<QString>& failedArtworkKeys() const { return failedArtworkKeys_; }
    bool wasPlayingBeforeRecording() const { return wasPlayingBeforeRecording_; }
    QString playerBeforeRecording() const { return playerBeforeRecording_; }

signals:
    void trackTitleChanged(const QString& value);
    void artistChanged(const QString& value);
    void albumChanged(const QString& value);
    void artworkChanged();
    void artworkAccentColorChanged();
    void isPlayingChanged(bool value);
    void activePlayerChanged(const QString& value);
    void automationWarningChanged();
    // Any published field changed.
    void changed();

private:
    struct Shared;

    void handleApplicationLaunch(const QString& player);
    void handleApplicationTermination(const QString& player);
    void schedulePollTimer();
    // Runs a command script on the global queue; success clears the warning and refreshes soon,
    // failure shows the warning.
    void runScriptThenRefresh(const QString& script);
    void searchArtwork(const QString& title, const QString& artist, const QString& album, const QString& key);
    // Work for the main queue that runs only while the service exists.
    template <typename F>
    Task onMain(F work);

    Runtime& runtime_;
    RunningPlayerSource& players_;
    std::shared_ptr<Executor> work_;
    // The players, the ports and the fields the background queues share, under one lock.
    std::shared_ptr<Shared> shared_;
    // Held by the service alone; queued work keeps a weak reference and checks it on the main
    // thread, where the service is also destroyed.
    std::shared_ptr<MediaRemoteService*> self_;

    QString trackTitle_;
    QString artist_;
    QString album_;
    std::optional<RgbaImage> artwork_;
    std::optional<AccentColor> artworkAccentColor_;
    bool isPlaying_ = false;
    QString activePlayer_;
    std::optional<QString> automationWarning_;

    bool monitoring_ = false;
    TaskHandle pollTimer_;
    bool pollInFlight_ = false;  // a reading is being taken on the pool
    bool pollWanted_ = false;    // another poll was asked for meanwhile
    bool wasPlayingBeforeRecording_ = false;
    QString playerBeforeRecording_;
    QString artworkVersion_;
    std::optional<QString> pendingArtworkFetchKey_;
    QSet<QString> failedArtworkKeys_;
    std::vector<RunningPlayerSource::ObserverToken> workspaceObservers_;
};

}  // namespace vocalynx
