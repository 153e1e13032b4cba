#pragma once
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <map>
#include <memory>

#include "platform/SoundOutput.h"

namespace vocalynx {

// Plays 16-bit PCM WAV images through Qt Multimedia on the default output device.
// Main thread only. Without an output device playing does nothing. A sound's playback stream lives
// only while it plays: it is made at each play and released once the sound has played out, so no
// stream (and no wake-ups of the sound server's connection for it) is left between cues.
class QtSoundOutput final : public SoundOutput {
public:
    QtSoundOutput();
    ~QtSoundOutput() override;
    std::optional<SoundId> prepare(const QByteArray& wav) override;
    void stop(SoundId id) override;
    void play(SoundId id) override;

private:
    struct Sound {
        QAudioFormat format;
        QByteArray pcm;
        std::unique_ptr<QAudioSink> sink;
        std::unique_ptr<QBuffer> buffer;
    };
    static void releaseStream(Sound& sound);
    std::map<SoundId, Sound> sounds_;
    SoundId next_ = 1;
};

// Parses a WAV image of 16-bit PCM or 32-bit float samples: its format and its sample bytes.
// Nothing for anything else.
struct ParsedWav {
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0;
    bool floatSamples = false;
    QByteArray data;
};
std::optional<ParsedWav> parseWav(const QByteArray& wav);

}  // namespace vocalynx
