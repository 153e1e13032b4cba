#pragma once
// Playing an audio file on the default output device, and asking whether there is one.

#include <QString>
#include <memory>

namespace vocalynx {

// One player opened on one file. Used on the main thread only, whichever thread opened it.
// Destroying a player stops it.
class AudioPlayer {
public:
    virtual ~AudioPlayer() = default;
    // -1: loop endlessly; 0: play once; n: repeat n more times.
    virtual void setNumberOfLoops(int loops) = 0;
    // 0.0 (silent) to 1.0.
    virtual void setVolume(float volume) = 0;
    // Starts playing; false when playback could not start. It need not wait for the output: a
    // start may still be under way when it returns.
    virtual bool play() = 0;
    virtual void stop() = 0;
    // Whether the player is producing its stream on an output right now; asked while a start is
    // under way, it waits for the start's outcome.
    virtual bool isPlaying() const = 0;
};

class AudioPlayback {
public:
    virtual ~AudioPlayback() = default;
    // Opens a player on the file; null with the reason in *error when it cannot be opened. It reads
    // the file, so it may run on any thread (and belongs off the main thread); it does not yet talk
    // to the sound server.
    virtual std::shared_ptr<AudioPlayer> openPlayer(const QString& path, QString* error) = 0;
    // Whether the system has a default output device. Main thread.
    virtual bool hasOutputDevice() const = 0;
};

}  // namespace vocalynx
