#pragma once
// Looping file playback on the default output device through Qt Multimedia (PulseAudio or
// PipeWire underneath). A player reads its whole WAV file when it is opened and pushes the samples
// to an audio sink in a loop, so a loop costs no decoding and no file work. The sink holds two
// seconds of sound and is topped up twice a second, which keeps an idle application's wake-ups
// (and so its CPU use) low.

#include <QAudioFormat>
#include <QAudioSink>
#include <QByteArray>
#include <QIODevice>
#include <QTimer>
#include <memory>

#include "platform/AudioPlayback.h"

namespace vocalynx {

class QtAudioPlayback final : public AudioPlayback {
public:
    // Opens 16-bit PCM and 32-bit float WAV files.
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

class QtLoopingPlayer final : public AudioPlayer {
public:
    QtLoopingPlayer(QAudioFormat format, QByteArray samples);
    ~QtLoopingPlayer() override;
    void setNumberOfLoops(int loops) override { loops_ = loops; }
    void setVolume(float volume) override;
    bool play() override;
    void stop() override;
    bool isPlaying() const override;

private:
    void refill();

    QAudioFormat format_;
    QByteArray samples_;
    int loops_ = 0;
    float volume_ = 1.0f;
    std::unique_ptr<LoopingSampleSource> source_;
    std::unique_ptr<QAudioSink> sink_;
    QIODevice* sinkInput_ = nullptr;  // owned by the sink
    QTimer feeder_;
};

}  // namespace vocalynx
