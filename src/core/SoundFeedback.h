#pragma once
#include <QByteArray>
#include <map>
#include <vector>

#include "core/ConfigStore.h"
#include "core/Types.h"
#include "platform/SoundOutput.h"

namespace vocalynx {

// The seven short cues, synthesised once when the player is created and played when enabled.
class SoundFeedback {
public:
    SoundFeedback(ConfigStore& config, SoundOutput& output);

    // Plays the cue unless it is switched off; a cue still playing restarts from the beginning.
    void play(SoundType type);

    // The cue's samples at 44.1 kHz mono.
    static std::vector<float> synthesize(SoundType type);
    // A 16-bit PCM mono 44.1 kHz WAV image of the samples.
    static QByteArray makeWAV(const std::vector<float>& samples);

    static constexpr double sampleRate = 44100;

private:
    void prepareSounds();
    ConfigStore& config_;
    SoundOutput& output_;
    std::map<SoundType, SoundOutput::SoundId> sounds_;
};

}  // namespace vocalynx
