#pragma once
// Looping file playback on the default output device as a PulseAudio stream (PipeWire serves the
// same protocol). A player reads its whole WAV file when it is opened and hands the samples to
// the sound server in a loop, so a loop costs no decoding and no file work. The stream asks for
// sound in half-second portions of a two-second buffer, and lets the server run its output with
// matching latency. At volume 0 the stream carries the same length of silence as 8 kHz 16-bit
// mono in 3 s portions of an 8 s buffer, so that a silent player wakes the process less than once
// a second. (Qt Multimedia's audio sink polls its stream every 20 ms whatever its buffer, which alone
// costs an idle application about half a percent of a core.)
// The output-device test is Qt Multimedia's default output.

#include <pulse/sample.h>

#include <QByteArray>
#include <QIODevice>
#include <memory>

#include "platform/AudioPlayback.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_mainloop_api;
struct pa_time_event;
struct timeval;

namespace vocalynx {

class PulseAudioPlayback final : public AudioPlayback {
public:
    // Opens 16-bit PCM and 32-bit float WAV files: regular files of up to kMaxFileBytes, opened
    // without following a link or waiting on a pipe. Any thread: the player it makes only holds
    // the samples until its first play() on the main thread.
    static constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;
    std::shared_ptr<AudioPlayer> openPlayer(const QString& path, QString* error) override;
    bool hasOutputDevice() const override;
};

// Hands out the samples of a clip again and again: endlessly, or for a number of plays.
class LoopingSampleSource final : public QIODevice {
public:
    LoopingSampleSource(QByteArray samples, int loops, int bytesPerFrame);
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray samples_;
    int playsLeft_;  // -1: endless
    qint64 position_ = 0;
};

// One stream on its own connection to the sound server. The public operations run on the main
// thread and never wait for the server, except isPlaying() while a start is still under way; the
// server's answers (connection, stream, requests for sound) are handled on the connection's own
// thread, under the connection's lock.
class PulseLoopingPlayer final : public AudioPlayer {
public:
    PulseLoopingPlayer(int sampleRate, int channels, bool floatSamples, QByteArray samples);
    ~PulseLoopingPlayer() override;
    void setNumberOfLoops(int loops) override { loops_ = loops; }
    void setVolume(float volume) override;
    bool play() override;
    void stop() override;
    bool isPlaying() const override;

private:
    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWriteRequest(pa_stream* stream, size_t bytes, void* self);
    static void onStartDeadline(pa_mainloop_api* api, pa_time_event* event, const struct timeval* at, void* self);
    // Connection thread, lock held.
    void connectStream();
    void endStart();
    void fill(size_t bytes);

    int sampleRate_;
    int channels_;
    bool floatSamples_;
    QByteArray samples_;
    int loops_ = 0;
    float volume_ = 1.0f;  // applied to the samples, so that no stored stream volume changes

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::unique_ptr<LoopingSampleSource> source_;  // read on the connection thread only
    pa_sample_spec spec_{};                         // the stream's format
    bool silentStream_ = false;                     // the stream carries low-rate silence
    bool starting_ = false;                         // connecting: neither ready nor failed yet
    pa_time_event* deadline_ = nullptr;             // the end of the start's wait
    bool finished_ = false;                         // a finite number of loops has been played
    bool startTimedOut_ = false;                    // the server did not answer in time
};

}  // namespace vocalynx
