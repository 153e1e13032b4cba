#include "gestures/SilentPlayerKeeper.h"

#include <QDir>
#include <QtEndian>
#include <algorithm>
#include <cmath>

#include "core/Text.h"
#include "platform/PrivateFiles.h"

namespace vocalynx {

namespace {
void appendU16(QByteArray& out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}
void appendU32(QByteArray& out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}
}  // namespace

SilentPlayerKeeper::SilentPlayerKeeper(Dependencies deps)
    : runtime_(deps.runtime),
      nowPlaying_(deps.nowPlaying),
      audio_(deps.audio),
      weak_(this, &deps.runtime.main, "SilentPlayerKeeper"),
      nowPlayingQueue_(deps.runtime.queues.makeSerialQueue("com.vocalynx.nowplaying")),
      clipQueue_(deps.runtime.queues.makeSerialQueue("vocalynx.clip")) {}

SilentPlayerKeeper::~SilentPlayerKeeper() {
    // Waits for a refresh running on the now-playing queue and for clip work running on the clip
    // queue; queued ones then find no keeper and leave the now-playing centre and the playback
    // alone (they may be gone with the keeper).
    weak_.invalidate();
    remoteCommandHeartbeat_.cancel();
    outputDeviceWait_.cancel();
}

QByteArray SilentPlayerKeeper::silentClipWav() {
    // IEEE float WAV: a format chunk with the extension size field, a fact chunk with the frame
    // count (required for non-PCM formats), then the samples.
    constexpr quint16 kFloatFormat = 3;
    constexpr quint16 kChannels = 1;
    constexpr quint16 kBits = 32;
    constexpr quint32 kBlockAlign = kChannels * kBits / 8;
    constexpr quint32 kDataBytes = kClipFrames * kBlockAlign;
    QByteArray wav;
    wav.reserve(int(kDataBytes) + 58);
    wav.append("RIFF");
    appendU32(wav, 4 + (8 + 18) + (8 + 4) + (8 + kDataBytes));
    wav.append("WAVE");
    wav.append("fmt ");
    appendU32(wav, 18);
    appendU16(wav, kFloatFormat);
    appendU16(wav, kChannels);
    appendU32(wav, kClipSampleRate);
    appendU32(wav, kClipSampleRate * kBlockAlign);
    appendU16(wav, kBlockAlign);
    appendU16(wav, kBits);
    appendU16(wav, 0);
    wav.append("fact");
    appendU32(wav, 4);
    appendU32(wav, kClipFrames);
    wav.append("data");
    appendU32(wav, kDataBytes);
    wav.append(QByteArray(int(kDataBytes), '\0'));  // 0.0f is all zero bits
    return wav;
}

QString SilentPlayerKeeper::silentClipPath() const {
    return QDir(runtime_.paths.temp).filePath(QString::fromLatin1(kClipFileName));
}

NowPlayingInfo SilentPlayerKeeper::nowPlayingInfo() {
    NowPlayingInfo info;
    info.mediaType = 1;
    info.title = QStringLiteral("Vocalynx");
    info.playbackDurationSeconds = 36000;
    info.elapsedPlaybackSeconds = 0;
    info.playbackRate = 1.0;
    return info;
}

void SilentPlayerKeeper::publishNowPlayingInfo(NowPlayingCenter& center) {
    center.setNowPlayingInfo(nowPlayingInfo());
    center.setPlaybackState(NowPlayingPlaybackState::playing);
}

bool SilentPlayerKeeper::ensureSilentClip(QString* error) {
    // Whatever is at the path and is not exactly the clip we write (another file, a pipe, a link, a
    // folder, a clip changed since) is replaced, so that the player only ever opens our own clip.
    if (runtime_.paths.temp.isEmpty()) {
        if (error) *error = QStringLiteral("no private temporary folder");
        return false;
    }
    static const QByteArray clip = silentClipWav();
    const QString path = silentClipPath();
    return holdsPrivateFile(path, clip) || writePrivateFile(path, clip, error);
}

void SilentPlayerKeeper::openClipPlayer(ClipOpened opened) {
    clipQueue_->post([ref = weak_.weak(), opened = std::move(opened)] {
        // Under `run`: the keeper, and with it the playback it was given, cannot go away while the
        // clip is checked and opened. The outcome goes back to the main queue, where the player
        // belongs; if the keeper is gone by then, the player is dropped there unplayed.
        ref.run([&opened](SilentPlayerKeeper& keeper) {
            ClipOpening result;
            result.clipReady = keeper.ensureSilentClip(&result.error);
            if (result.clipReady) result.player = keeper.audio_.openPlayer(keeper.silentClipPath(), &result.error);
            keeper.runtime_.main.post(keeper.weakTask(
                [opened, result = std::move(result)](SilentPlayerKeeper& k) mutable { opened(k, std::move(result)); }));
        });
    });
}

void SilentPlayerKeeper::makeSilentPlayer() {
    assertOnSequence(runtime_.main, "SilentPlayerKeeper::makeSilentPlayer");
    ++startsOut_;
    openClipPlayer([generation = silentPlayerGeneration_](SilentPlayerKeeper& k, ClipOpening opened) {
        --k.startsOut_;
        if (!opened.clipReady) {
            k.log(QStringLiteral("[Vocalynx] Failed to create silent file: ") + opened.error);
            return;
        }
        if (!opened.player) {
            k.log(QStringLiteral("[Vocalynx] Failed to start silent player: ") + opened.error);
            return;
        }
        // A recording that began meanwhile keeps the output to itself; its end rebuilds the player.
        if (k.isStale(generation)) return;
        k.audioPlayer_ = std::move(opened.player);
        k.audioPlayer_->setNumberOfLoops(-1);
        k.audioPlayer_->setVolume(0.0f);
        k.audioPlayer_->play();
        k.log(QStringLiteral("[Vocalynx] Silent AVAudioPlayer running: ") + boolText(k.audioPlayer_->isPlaying()));
    });
}

void SilentPlayerKeeper::startHeartbeat() {
    assertOnSequence(runtime_.main, "SilentPlayerKeeper::startHeartbeat");
    remoteCommandHeartbeat_.cancel();
    heartbeatTick();
    scheduleNextHeartbeat();
}

void SilentPlayerKeeper::scheduleNextHeartbeat() {
    remoteCommandHeartbeat_ = runtime_.main.postAfterCoarse(seconds(kHeartbeatInterval), weakTask([](SilentPlayerKeeper& k) {
        k.scheduleNextHeartbeat();
        k.heartbeatTick();
    }));
}

void SilentPlayerKeeper::heartbeatTick() {
    assertOnSequence(runtime_.main, "SilentPlayerKeeper::heartbeatTick");
    ++heartbeatCount_;
    lastHeartbeatAt_ = runtime_.clock.wallNow();
    if (nowPlayingBusy()) return;

    // At most one refresh is queued: the flag is set here, and the main thread clears it once the
    // refresh has left its mark, when it next looks (so the refresh does not wake the main thread
    // once a second only to clear a flag).
    nowPlayingBusy_ = true;
    refreshDone_->store(false);
    nowPlayingQueue_->post([ref = weak_.weak(), done = refreshDone_]() {
        // Under `run`: the keeper, and with it the centre it was given, cannot go away meanwhile.
        ref.run([](SilentPlayerKeeper& keeper) {
            keeper.nowPlaying_.setPlaybackState(NowPlayingPlaybackState::paused);
            publishNowPlayingInfo(keeper.nowPlaying_);
        });
        done->store(true);
    });

    if (silentPlayerSuspended_) return;
    if (audioPlayer_ && audioPlayer_->isPlaying()) return;
    // No rebuild while the start's clip work, a back-off or an output-device wait is pending: each
    // of them ends in a player or a rebuild of its own.
    if (startPending() || backoffRound_ != 0 || waitingForOutputDevice()) return;
    if (lastRebuildAt_ && secondsBetween(*lastRebuildAt_, runtime_.clock.now()) < kRebuildMinimumSpacing) return;
    rebuildSilentPlayer(0, silentPlayerGeneration_);
}

void SilentPlayerKeeper::rebuildSilentPlayer(int attempt, std::optional<int64_t> generationOrCurrent) {
    assertOnSequence(runtime_.main, "SilentPlayerKeeper::rebuildSilentPlayer");
    const int64_t generation = generationOrCurrent.value_or(silentPlayerGeneration_);
    ++rebuildCount_;
    lastRebuildAt_ = runtime_.clock.now();
    if (isStale(generation)) return;

    if (!audio_.hasOutputDevice()) {
        log(QStringLiteral("[Vocalynx] No audio output device available, deferring silent player rebuild"));
        waitForOutputDevice(generation);
        return;
    }
    // The back-off round is kept until a rebuilt player is confirmed playing, so that it grows
    // over consecutive failed series.
    if (audioPlayer_) audioPlayer_->stop();
    audioPlayer_.reset();

    openClipPlayer([generation, attempt](SilentPlayerKeeper& k, ClipOpening opened) {
        // Suspended meanwhile: the player opened is dropped unplayed, and the series ends here.
        if (k.isStale(generation)) return;
        if (!opened.player) {
            k.log(QStringLiteral("[Vocalynx] Rebuild attempt ") + QString::number(attempt) + QStringLiteral(" error: ") +
                  opened.error);
            k.scheduleRebuildRetry(attempt, generation);
            return;
        }
        std::shared_ptr<AudioPlayer> player = std::move(opened.player);
        player->setNumberOfLoops(-1);
        player->setVolume(0.0f);
        player->play();
        k.runtime_.main.postAfter(seconds(kConfirmDelay), k.weakTask([generation, player, attempt](SilentPlayerKeeper& keeper) {
            keeper.confirmSilentPlayer(generation, player, attempt);
        }));
    });
}

void SilentPlayerKeeper::confirmSilentPlayer(int64_t generation, std::shared_ptr<AudioPlayer> player, int attempt) {
    if (isStale(generation)) {
        player->stop();
        return;
    }
    if (player->isPlaying()) {
        audioPlayer_ = std::move(player);
        backoffRound_ = 0;
        publishNowPlayingInfo();
        startHeartbeat();
        log(QStringLiteral("[Vocalynx] Silent player confirmed playing on attempt ") + QString::number(attempt));
        return;
    }
    log(QStringLiteral("[Vocalynx] Silent player not actually playing on attempt ") + QString::number(attempt) +
        QStringLiteral(", retrying..."));
    player->stop();
    scheduleRebuildRetry(attempt, generation);
}

void SilentPlayerKeeper::scheduleRebuildRetry(int attempt, int64_t generation) {
    if (isStale(generation)) return;
    if (attempt <= kLastAttemptBeforeBackoff) {
        runtime_.main.postAfter(seconds(kRetryDelay), weakTask([attempt, generation](SilentPlayerKeeper& k) {
            k.rebuildSilentPlayer(attempt + 1, generation);
        }));
        return;
    }
    ++backoffRound_;
    const double delay = std::min(kBackoffCap, 5.0 * std::pow(2.0, double(backoffRound_ - 1)));
    log(QStringLiteral("[Vocalynx] Failed to rebuild silent player after ") + QString::number(attempt) +
        QStringLiteral(" attempts, backoff round ") + QString::number(backoffRound_) + QStringLiteral(", retry in ") +
        QString::number(static_cast<int64_t>(delay)) + QStringLiteral("s"));
    runtime_.main.postAfter(seconds(delay), weakTask([generation](SilentPlayerKeeper& k) {
        k.retryRebuildFromScratch(generation);
    }));
}

void SilentPlayerKeeper::retryRebuildFromScratch(int64_t generation) {
    if (isStale(generation)) return;
    if (!audio_.hasOutputDevice()) {
        log(QStringLiteral("[Vocalynx] Still no audio output device, deferring rebuild"));
        waitForOutputDevice(generation);
        return;
    }
    log(QStringLiteral("[Vocalynx] Retrying silent player rebuild from scratch (backoff round ") +
        QString::number(backoffRound_) + QStringLiteral(")"));
    rebuildSilentPlayer(0, generation);
}

void SilentPlayerKeeper::waitForOutputDevice(int64_t generation) {
    // A new wait replaces one still running, so that waits never pile up.
    outputDeviceWait_.cancel();
    pollOutputDevice(kOutputDevicePolls, generation, kOutputDevicePollInterval);
}

void SilentPlayerKeeper::pollOutputDevice(int remaining, int64_t generation, double interval) {
    if (remaining < 1) {
        outputDeviceWait_ = TaskHandle();
        // The heartbeat's rebuild check is the way back from here; a back-off round left over
        // from before the wait would block it for good.
        backoffRound_ = 0;
        log(QStringLiteral("[Vocalynx] Gave up waiting for audio output device after 5 minutes"));
        return;
    }
    outputDeviceWait_ = runtime_.main.postAfter(
        seconds(interval), weakTask([remaining, generation, interval](SilentPlayerKeeper& k) {
            if (k.isStale(generation)) {
                k.outputDeviceWait_ = TaskHandle();
                return;
            }
            if (!k.audio_.hasOutputDevice()) {
                k.pollOutputDevice(remaining - 1, generation, interval);
                return;
            }
            k.outputDeviceWait_ = TaskHandle();
            k.log(QStringLiteral("[Vocalynx] Audio output device detected, rebuilding silent player"));
            k.backoffRound_ = 0;
            k.rebuildSilentPlayer(0, generation);
        }));
}

void SilentPlayerKeeper::suspendSilentPlayer() {
    assertOnSequence(runtime_.main, "SilentPlayerKeeper::suspendSilentPlayer");
    remoteCommandHeartbeat_.cancel();
    remoteCommandHeartbeat_ = TaskHandle();
    ++silentPlayerGeneration_;
    silentPlayerSuspended_ = true;
    outputDeviceWait_.cancel();
    outputDeviceWait_ = TaskHandle();
    if (audioPlayer_) audioPlayer_->stop();
    audioPlayer_.reset();
}

void SilentPlayerKeeper::resumeSilentPlayer() {
    assertOnSequence(runtime_.main, "SilentPlayerKeeper::resumeSilentPlayer");
    remoteCommandHeartbeat_.cancel();
    remoteCommandHeartbeat_ = TaskHandle();
    silentPlayerSuspended_ = false;
    startHeartbeat();
    rebuildSilentPlayer(0, silentPlayerGeneration_);
}

}  // namespace vocalynx
