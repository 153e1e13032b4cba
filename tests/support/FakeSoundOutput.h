#pragma once
#include <QStringList>
#include <vector>

#include "platform/SoundOutput.h"

namespace vocalynx::test {

// Records what the sound player was asked to do; sound ids count from 1 in preparation order.
class FakeSoundOutput final : public SoundOutput {
public:
    std::optional<SoundId> prepare(const QByteArray& wav) override {
        prepared.push_back(wav);
        if (static_cast<int>(prepared.size()) == refuse) return std::nullopt;
        return static_cast<SoundId>(prepared.size());
    }
    void stop(SoundId id) override { calls << QStringLiteral("stop %1").arg(id); }
    void play(SoundId id) override { calls << QStringLiteral("play %1").arg(id); }
    // Plays of a cue, by its position in preparation order (1 = startRecording, ...).
    int plays(SoundId id) const { return static_cast<int>(calls.count(QStringLiteral("play %1").arg(id))); }

    std::vector<QByteArray> prepared;
    QStringList calls;
    int refuse = 0;  // the 1-based preparation that fails, 0 for none
};

}  // namespace vocalynx::test
