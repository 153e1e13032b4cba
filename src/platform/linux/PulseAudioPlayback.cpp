#include "platform/linux/PulseAudioPlayback.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <QFileInfo>
#include <QMediaDevices>
#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/PrivateFiles.h"
#include "platform/linux/QtSoundOutput.h"

namespace vocalynx {

std::shared_ptr<AudioPlayer> PulseAudioPlayback::openPlayer(const QString& path, QString* error) {
    auto fail = [&](const QString& reason) -> std::shared_ptr<AudioPlayer> {
        if (error) *error = QStringLiteral("The file \u201c") + QFileInfo(path).fileName() +
                            QStringLiteral("\u201d couldn\u2019t be opened: ") + reason;
        return nullptr;
    };
    QString reason;
    const auto bytes = readRegularFile(path, kMaxFileBytes, &reason);
    if (!bytes) return fail(reason);
    const auto wav = parseWav(*bytes);
    if (!wav) return fail(QStringLiteral("not a supported WAV file"));
    if (wav->data.isEmpty()) return fail(QStringLiteral("the file holds no samples"));
    return std::make_shared<PulseLoopingPlayer>(wav->sampleRate, wav->channels, wav->floatSamples, wav->data);
}

bool PulseAudioPlayback::hasOutputDevice() const { return !QMediaDevices::defaultAudioOutput().isNull(); }

LoopingSampleSource::LoopingSampleSource(QByteArray samples, int loops, int bytesPerFrame)
    : samples_(std::move(samples)), playsLeft_(loops < 0 ? -1 : loops + 1) {
    // Whole frames only, so that a loop never shifts the channels.
    if (bytesPerFrame > 0) samples_.truncate(samples_.size() - samples_.size() % bytesPerFrame);
}

qint64 LoopingSampleSource::bytesAvailable() const {
    if (samples_.isEmpty() || playsLeft_ == 0) return QIODevice::bytesAvailable();
    if (playsLeft_ < 0) return std::numeric_limits<int>::max();
    return qint64(playsLeft_) * samples_.size() - position_ + QIODevice::bytesAvailable();
}

qint64 LoopingSampleSource::readData(char* data, qint64 maxSize) {
    qint64 written = 0;
    while (written < maxSize && !samples_.isEmpty() && playsLeft_ != 0) {
        const qint64 chunk = std::min(maxSize - written, qint64(samples_.size()) - position_);
        std::memcpy(data + written, samples_.constData() + position_, size_t(chunk));
        written += chunk;
        position_ += chunk;
        if (position_ == samples_.size()) {
            position_ = 0;
            if (playsLeft_ > 0) --playsLeft_;
        }
    }
    return written;
}

namespace {
constexpr pa_usec_t kBufferMicroseconds = 2'000'000;
constexpr pa_usec_t kRequestMicroseconds = 500'000;
// How long starting may wait for the sound server before it counts as not playing.
constexpr pa_usec_t kStartTimeoutMicroseconds = 5'000'000;
// A player at volume 0 sends silence, and silence needs no high rate: its stream carries 16-bit
// mono samples at this rate, a twentieth of a 44.1 kHz float clip's data. The sound server hands
// the samples over in shared-memory blocks of 64 KiB and wakes the player's connection thread each
// time it is done with one: every 0.37 s for the float clip, every 4 s at this rate.
constexpr uint32_t kSilentRate = 8000;
// A silent stream also asks for sound in 3 s portions of an 8 s buffer: one request every 3 s
// instead of every 0.5 s. (With portions of half the buffer or more, the server has been seen to
// spend several percent of a core on the stream.)
constexpr pa_usec_t kSilentBufferMicroseconds = 8'000'000;
constexpr pa_usec_t kSilentRequestMicroseconds = 3'000'000;

// Holds the connection's lock for a scope.
class Locked {
public:
    explicit Locked(pa_threaded_mainloop* loop) : loop_(loop) {
        if (loop_) pa_threaded_mainloop_lock(loop_);
    }
    ~Locked() {
        if (loop_) pa_threaded_mainloop_unlock(loop_);
    }

private:
    pa_threaded_mainloop* loop_;
};
}  // namespace

PulseLoopingPlayer::PulseLoopingPlayer(int sampleRate, int channels, bool floatSamples, QByteArray samples)
    : sampleRate_(sampleRate), channels_(channels), floatSamples_(floatSamples), samples_(std::move(samples)) {}

PulseLoopingPlayer::~PulseLoopingPlayer() { stop(); }

void PulseLoopingPlayer::setVolume(float volume) {
    bool restart = false;
    {
        Locked lock(loop_);
        volume_ = std::clamp(volume, 0.0f, 1.0f);
        // A silent stream cannot carry the clip itself: it starts again in the clip's own format.
        restart = loop_ && silentStream_ && volume_ > 0.0f;
    }
    if (restart) play();
}

void PulseLoopingPlayer::onContextState(pa_context* context, void* self) {
    auto* player = static_cast<PulseLoopingPlayer*>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY && !player->stream_) player->connectStream();
    else if (!PA_CONTEXT_IS_GOOD(state)) player->endStart();
    pa_threaded_mainloop_signal(player->loop_, 0);
}

void PulseLoopingPlayer::onStreamState(pa_stream* stream, void* self) {
    auto* player = static_cast<PulseLoopingPlayer*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state)) player->endStart();
    pa_threaded_mainloop_signal(player->loop_, 0);
}

void PulseLoopingPlayer::onStartDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* player = static_cast<PulseLoopingPlayer*>(self);
    if (player->starting_) player->startTimedOut_ = true;
    player->endStart();
    pa_threaded_mainloop_signal(player->loop_, 0);
}

void PulseLoopingPlayer::onWriteRequest(pa_stream*, size_t bytes, void* self) {
    static_cast<PulseLoopingPlayer*>(self)->fill(bytes);
}

void PulseLoopingPlayer::endStart() {
    starting_ = false;
    if (deadline_) {
        pa_threaded_mainloop_get_api(loop_)->time_free(deadline_);
        deadline_ = nullptr;
    }
}

// Connection thread, lock held: the context is ready, so the stream is made and connected.
void PulseLoopingPlayer::connectStream() {
    stream_ = pa_stream_new(context_, "Vocalynx silent loop", &spec_, nullptr);
    if (!stream_) {
        endStart();
        return;
    }
    pa_stream_set_state_callback(stream_, &PulseLoopingPlayer::onStreamState, this);
    pa_stream_set_write_callback(stream_, &PulseLoopingPlayer::onWriteRequest, this);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(pa_usec_to_bytes(silentStream_ ? kSilentBufferMicroseconds : kBufferMicroseconds, &spec_));
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(pa_usec_to_bytes(silentStream_ ? kSilentRequestMicroseconds : kRequestMicroseconds, &spec_));
    attr.fragsize = uint32_t(-1);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) != 0) endStart();
}

void PulseLoopingPlayer::fill(size_t bytes) {
    while (bytes > 0 && !finished_) {
        void* data = nullptr;
        size_t size = bytes;
        if (pa_stream_begin_write(stream_, &data, &size) < 0 || !data || size == 0) return;
        const qint64 got = source_->read(static_cast<char*>(data), qint64(size));
        if (got <= 0) {
            pa_stream_cancel_write(stream_);
            finished_ = true;
            return;
        }
        if (volume_ <= 0.0f) {
            std::memset(data, 0, size_t(got));
        } else if (volume_ < 1.0f) {
            if (floatSamples_) {
                auto* s = static_cast<float*>(data);
                for (size_t i = 0; i < size_t(got) / sizeof(float); ++i) s[i] *= volume_;
            } else {
                auto* s = static_cast<int16_t*>(data);
                for (size_t i = 0; i < size_t(got) / sizeof(int16_t); ++i) s[i] = int16_t(s[i] * volume_);
            }
        }
        pa_stream_write(stream_, data, size_t(got), nullptr, 0, PA_SEEK_RELATIVE);
        bytes -= size_t(got);
    }
}

bool PulseLoopingPlayer::play() {
    stop();
    pa_sample_spec clip;
    clip.format = floatSamples_ ? PA_SAMPLE_FLOAT32LE : PA_SAMPLE_S16LE;
    clip.rate = uint32_t(sampleRate_);
    clip.channels = uint8_t(channels_);
    if (!pa_sample_spec_valid(&clip)) return false;
    const size_t clipFrameBytes = pa_frame_size(&clip);
    silentStream_ = volume_ <= 0.0f;
    if (silentStream_) {
        // The same length of silence, at the low rate (at least one frame).
        const double seconds = double(samples_.size() / qsizetype(clipFrameBytes)) / double(sampleRate_);
        spec_.format = PA_SAMPLE_S16LE;
        spec_.rate = kSilentRate;
        spec_.channels = 1;
        const qsizetype frames = std::max<qsizetype>(1, qsizetype(std::llround(seconds * kSilentRate)));
        source_ = std::make_unique<LoopingSampleSource>(QByteArray(frames * 2, '\0'), loops_, 2);
    } else {
        spec_ = clip;
        source_ = std::make_unique<LoopingSampleSource>(samples_, loops_, int(clipFrameBytes));
    }
    source_->open(QIODevice::ReadOnly);
    finished_ = false;
    startTimedOut_ = false;

    // Only the connection is begun here: the sound server's answers (the context, then the stream)
    // are taken on the connection's own thread, so that the caller's thread never waits for them.
    // isPlaying() waits for the outcome when it is asked before the start has ended.
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) return false;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Vocalynx");
    if (!context_) {
        stop();
        return false;
    }
    pa_context_set_state_callback(context_, &PulseLoopingPlayer::onContextState, this);
    starting_ = true;
    // A server that accepts the connection and then never answers must not hold a start open for
    // ever: it ends at a deadline and counts as not playing.
    deadline_ = pa_context_rttime_new(context_, pa_rtclock_now() + kStartTimeoutMicroseconds,
                                      &PulseLoopingPlayer::onStartDeadline, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 || pa_threaded_mainloop_start(loop_) < 0) {
        stop();
        return false;
    }
    return true;
}

void PulseLoopingPlayer::stop() {
    if (!loop_) return;
    {
        Locked lock(loop_);
        endStart();
        if (stream_) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_write_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
    source_.reset();
    silentStream_ = false;
}

bool PulseLoopingPlayer::isPlaying() const {
    if (!loop_) return false;
    Locked lock(loop_);
    while (starting_) pa_threaded_mainloop_wait(loop_);
    return !startTimedOut_ && context_ && stream_ && pa_context_get_state(context_) == PA_CONTEXT_READY &&
           pa_stream_get_state(stream_) == PA_STREAM_READY && !finished_;
}

}  // namespace vocalynx
