#pragma once
// Keeps the session's now-playing slot without making a sound: loops a one-second silent clip at
// volume 0, publishes now-playing information that names the application every second, and brings
// the player back when it stops (short retries, a growing back-off, a wait for an output device).
// The speech engine suspends it for the length of a recording.
//
// Everything runs on the main queue (the entry points check it in debug builds) except the
// per-second now-playing refresh, which runs on the serial queue "com.vocalynx.nowplaying", and the
// clip's file work (the check that the clip is ours, its rewrite, the player's read of it), which
// runs on the serial queue "vocalynx.clip" and hands its outcome back to the main queue.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "core/WeakHandle.h"
#include "platform/AudioPlayback.h"
#include "platform/RemoteCommands.h"
#include "platform/Runtime.h"

namespace vocalynx {

class SilentPlayerKeeper {
public:
    struct Dependencies {
        Runtime& runtime;
        NowPlayingCenter& nowPlaying;
        AudioPlayback& audio;
    };

    explicit SilentPlayerKeeper(Dependencies deps);
    ~SilentPlayerKeeper();
    SilentPlayerKeeper(const SilentPlayerKeeper&) = delete;
    SilentPlayerKeeper& operator=(const SilentPlayerKeeper&) = delete;

    // ---- the silent clip ----
    static constexpr const char* kClipFileName = "vocalynx_silence.wav";
    static constexpr int kClipSampleRate = 44100;
    static constexpr int kClipFrames = 44100;
    // One second of mono 32-bit float silence as a WAV image.
    static QByteArray silentClipWav();
    QString silentClipPath() const;
    // Writes the clip again unless the path holds exactly it; false with the reason in *error.
    // File work: runs on the clip queue.
    bool ensureSilentClip(QString* error);

    // ---- the now-playing information ----
    static NowPlayingInfo nowPlayingInfo();
    // Sets the information, then the playing state. Any thread.
    static void publishNowPlayingInfo(NowPlayingCenter& center);
    void publishNowPlayingInfo() { publishNowPlayingInfo(nowPlaying_); }

    // ---- the player and its rebuild loop ----
    // Both start with the clip's file work on the clip queue and go on on the main queue once it
    // is done; a suspend meanwhile drops the player it opened.
    void makeSilentPlayer();
    void startHeartbeat();
    void heartbeatTick();
    // generation: none means the current one.
    void rebuildSilentPlayer(int attempt, std::optional<int64_t> generation = std::nullopt);
    void scheduleRebuildRetry(int attempt, int64_t generation);
    void confirmSilentPlayer(int64_t generation, std::shared_ptr<AudioPlayer> player, int attempt);
    void retryRebuildFromScratch(int64_t generation);
    void waitForOutputDevice(int64_t generation);
    void pollOutputDevice(int remaining, int64_t generation, double interval);
    void suspendSilentPlayer();
    void resumeSilentPlayer();

    // ---- tuning values ----
    static constexpr double kHeartbeatInterval = 1.0;
    static constexpr double kRebuildMinimumSpacing = 5.0;
    static constexpr double kConfirmDelay = 0.1;
    static constexpr double kRetryDelay = 0.5;
    static constexpr int kLastAttemptBeforeBackoff = 14;
    static constexpr double kBackoffCap = 60.0;
    static constexpr int kOutputDevicePolls = 100;
    static constexpr double kOutputDevicePollInterval = 3.0;

    // ---- read-only views (main thread) ----
    const std::shared_ptr<AudioPlayer>& audioPlayer() const { return audioPlayer_; }
    int64_t silentPlayerGeneration() const { return silentPlayerGeneration_; }
    bool silentPlayerSuspended() const { return silentPlayerSuspended_; }
    int64_t backoffRound() const { return backoffRound_; }
    bool heartbeatRunning() const { return remoteCommandHeartbeat_.isValid() && !remoteCommandHeartbeat_.isCancelled(); }
    // Main thread: whether a refresh is queued and has not run yet (clearing the flag once it has).
    bool nowPlayingBusy() {
        if (nowPlayingBusy_ && refreshDone_->load()) nowPlayingBusy_ = false;
        return nowPlayingBusy_;
    }
    // Whether the start's clip work is still out (the heartbeat starts no rebuild meanwhile).
    bool startPending() const { return startsOut_ > 0; }
    bool waitingForOutputDevice() const { return outputDeviceWait_.isValid() && !outputDeviceWait_.isCancelled(); }
    int64_t heartbeatCount() const { return heartbeatCount_; }
    int64_t rebuildCount() const { return rebuildCount_; }
    std::optional<WallTime> lastHeartbeatAt() const { return lastHeartbeatAt_; }

private:
    // Wraps main-queue work so that it runs only while the keeper still exists.
    template <typename F>
    Task weakTask(F work) {
        return weak_.bind(std::move(work));
    }
    bool isStale(int64_t generation) const {
        return silentPlayerSuspended_ || generation != silentPlayerGeneration_;
    }
    void scheduleNextHeartbeat();
    // What the clip queue found: the clip was (made) ours, and the player opened on it or why not.
    struct ClipOpening {
        bool clipReady = false;
        std::shared_ptr<AudioPlayer> player;
        QString error;
    };
    using ClipOpened = std::function<void(SilentPlayerKeeper&, ClipOpening)>;
    // Checks (and if need be writes) the clip and opens a player on it on the clip queue, then runs
    // `opened` on the main queue while the keeper exists.
    void openClipPlayer(ClipOpened opened);
    void log(const QString& text) { runtime_.log.line(text); }

    Runtime& runtime_;
    NowPlayingCenter& nowPlaying_;
    AudioPlayback& audio_;
    // Queued work reaches the keeper through it: main-queue work with `get`, the refresh on the
    // now-playing queue with `run`. Invalidated first in the destructor.
    WeakFactory<SilentPlayerKeeper> weak_;

    int64_t backoffRound_ = 0;
    std::shared_ptr<AudioPlayer> audioPlayer_;
    int64_t silentPlayerGeneration_ = 0;
    bool silentPlayerSuspended_ = false;
    TaskHandle remoteCommandHeartbeat_;
    int64_t heartbeatCount_ = 0;
    int64_t rebuildCount_ = 0;
    std::optional<WallTime> lastHeartbeatAt_;
    std::optional<MonoTime> lastRebuildAt_;
    std::shared_ptr<SerialQueue> nowPlayingQueue_;
    // One clip job at a time, in the order they were asked for.
    std::shared_ptr<SerialQueue> clipQueue_;
    int startsOut_ = 0;
    bool nowPlayingBusy_ = false;
    // Set by the refresh on the now-playing queue when it has run; shared with the queued work so
    // that it outlives the keeper.
    std::shared_ptr<std::atomic<bool>> refreshDone_ = std::make_shared<std::atomic<bool>>(false);
    // The pending poll of the output-device wait; at most one wait runs at a time.
    TaskHandle outputDeviceWait_;
};

}  // namespace vocalynx
