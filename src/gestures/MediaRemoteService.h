#pragma once
// The media service: follows the music player that plays on the machine ("Music" or "Spotify"),
// publishes its track, artwork and play state, sends it transport commands, and pauses it for the
// length of a recording.
//
// Threads: everything public runs on the main thread (checked in debug builds).
// Player readings, artwork downloads, the artwork search and the accent colour run on a small
// worker pool of the service's own: a player or a server that answers slowly (or never) can hold
// its threads, but never a thread of the shared pool, where the dictation's work runs. Commands to
// the players run one at a time, in the order they were given, on a serial queue of their own: a
// dictation's resume never reaches a player before its pause, however slowly the player answers.
// Their results come back on the main queue. The published fields change only on the main
// thread, and each change is announced by its signal (and by changed()) right after it.

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

#include "core/WeakHandle.h"
#include "engine/EngineCollaborators.h"
#include "gestures/AlbumArtwork.h"
#include "gestures/PlayerReader.h"
#include "platform/HttpClient.h"
#include "platform/ImageDecoder.h"
#include "platform/MusicPlayers.h"
#include "platform/RunningPlayers.h"
#include "platform/Runtime.h"

namespace vocalynx {

// Transport command codes.
enum class MediaCommand : int { toggle = 0, next = 1, previous = 2, play = 3, pause = 4 };

class MediaRemoteService : public QObject, public MediaPauseControl {
    Q_OBJECT

public:
    struct Dependencies {
        Runtime& runtime;
        MusicPlayers& musicPlayers;
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
    // The most tracks remembered as having no artwork; players name tracks without end, so the
    // memory starts again when it is full.
    static constexpr qsizetype maxFailedArtworkKeys = 256;

    // The ports must outlive the service's worker pool (its work in progress may still be in one
    // of them); work that has not started when the service goes calls none of them.
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

    // Writers of the published fields, for values from outside the players (the screenshot
    // mode's sample values); the service's own readings use them too. Each announces a change of
    // value. Main thread.
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
    // Reads the players now, as the poll timer and a command's refreshes do. One reading at a
    // time: a poll asked for while a reading is out runs once, after it.
    void pollNowPlaying();

    // ---- commands (main thread) ----
    // True when a target player was found (the active player, else Music, else Spotify) and the
    // command was queued.
    bool sendCommand(MediaCommand command);

    // ---- around a recording (main thread; the speech engine calls these) ----
    void pauseForRecording() override;
    void resumeAfterRecording() override;

    // ---- what the service keeps besides the published fields (main thread) ----
    // A read-only copy, for diagnostics and tests.
    struct Bookkeeping {
        bool monitoring = false;
        QSet<QString> runningPlayers;  // the supported players seen running
        QString targetPlayer;          // where a command would go now, or empty
        // The artwork cache: the last track read, its bytes, and "<track key>||<artwork version>"
        // of the artwork published.
        std::optional<QString> lastArtworkTrackKey;
        std::optional<QByteArray> cachedArtworkData;
        QString artworkVersion;
        std::optional<QString> pendingArtworkFetchKey;  // the track whose artwork is searched
        QSet<QString> failedArtworkKeys;                // tracks whose search found nothing
        bool wasPlayingBeforeRecording = false;
        QString playerBeforeRecording;
    };
    Bookkeeping bookkeeping() const;

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
    void handleApplicationLaunch(const QString& player);
    void handleApplicationTermination(const QString& player);
    void schedulePollTimer();
    void applyPlayerInfo(const PlayerReader::Reading& info, const QString& player);
    void clearNowPlaying();
    QString targetPlayer() const;
    // Sends a command on the command queue; success clears the warning and refreshes soon, failure shows
    // the warning.
    void runCommandThenRefresh(const QString& player, PlayerCommand command);
    void scheduleRefreshPolls();
    void updateAutomationWarning();
    void searchArtwork(const QString& title, const QString& artist, const QString& album, const QString& key);
    void applySearchedArtwork(const QString& key, const QByteArray& bytes, const RgbaImage& image);
    // A search that could not run now (its download was busy): the track is searched again when
    // it is published next, instead of being remembered as a miss.
    void retrySearchLater(const QString& key);
    void publishAccentColor(const RgbaImage& image);
    // Posts work for the main queue that runs only while the service exists. Any thread: the
    // reference is taken beforehand, on the main thread.
    template <typename F>
    static void postToMain(MainQueue& main, const WeakRef<MediaRemoteService>& ref, F work);

    Runtime& runtime_;
    RunningPlayerSource& players_;
    std::shared_ptr<Executor> work_;
    std::shared_ptr<SerialQueue> commands_;
    // The players' ports and the state the pool's work shares with the main thread; the pool's
    // work holds it, never the service.
    std::shared_ptr<PlayerReader> reader_;

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
    // Queued main-queue work reaches the service through it; invalidated first in the destructor.
    WeakFactory<MediaRemoteService> weak_;
};

}  // namespace vocalynx
