#pragma once
#include <QByteArray>
#include <optional>

namespace vocalynx {

// Plays prepared in-memory sounds on the default output.
class SoundOutput {
public:
    using SoundId = int;
    virtual ~SoundOutput() = default;
    // Makes a sound object from a WAV image; nothing when the data is not a usable sound.
    virtual std::optional<SoundId> prepare(const QByteArray& wav) = 0;
    virtual void stop(SoundId id) = 0;
    // Starts playback from the beginning and returns at once.
    virtual void play(SoundId id) = 0;
};

}  // namespace vocalynx
