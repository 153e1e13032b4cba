#include "core/SoundFeedback.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <functional>

namespace vocalynx {

namespace {

constexpr double kPi = 3.14159265358979323846;

enum class Wave { sine, square };

// Writes one note with the half-sine envelope into the buffer from its start sample.
void writeNote(std::vector<float>& buffer, size_t start, size_t length, Wave wave, double gain,
               const std::function<double(double t)>& frequencyAt, bool sweepEnvelope = false,
               double sweepDuration = 0) {
    for (size_t n = 0; n < length && start + n < buffer.size(); ++n) {
        const double t = static_cast<double>(n) / SoundFeedback::sampleRate;
        const double envelope = sweepEnvelope ? std::sin(kPi * (t / sweepDuration))
                                              : std::sin(kPi * static_cast<double>(n) / static_cast<double>(length));
        const double phase = std::sin(2.0 * kPi * frequencyAt(t) * t);
        double sample;
        if (wave == Wave::sine)
            sample = phase * envelope * gain;
        else
            sample = (phase >= 0 ? envelope : -envelope) * gain;
        buffer[start + n] = static_cast<float>(sample);
    }
}

auto constant(double f) {
    return [f](double) { return f; };
}

}  // namespace

SoundFeedback::SoundFeedback(ConfigStore& config, SoundOutput& output) : config_(config), output_(output) {
    prepareSounds();
}

std::vector<float> SoundFeedback::synthesize(SoundType type) {
    switch (type) {
        case SoundType::startRecording: {
            std::vector<float> b(5292, 0.0f);
            writeNote(b, 0, 5292, Wave::sine, 0.4, [](double t) { return 880.0 + 440.0 * (t / 0.12); }, true, 0.12);
            return b;
        }
        case SoundType::stopRecording: {
            std::vector<float> b(5292, 0.0f);
            writeNote(b, 0, 5292, Wave::sine, 0.4, [](double t) { return 1320.0 - 440.0 * (t / 0.12); }, true, 0.12);
            return b;
        }
        case SoundType::confirm: {
            std::vector<float> b(4410, 0.0f);
            writeNote(b, 0, 4410, Wave::sine, 0.35, constant(1046));
            return b;
        }
        case SoundType::cancel: {
            std::vector<float> b(6615, 0.0f);
            writeNote(b, 0, 2646, Wave::sine, 0.35, constant(880));
            writeNote(b, 3969, 2646, Wave::sine, 0.35, constant(660));
            return b;
        }
        case SoundType::agentStart: {
            std::vector<float> b(7938, 0.0f);
            writeNote(b, 0, 2646, Wave::square, 0.25, constant(523.25));
            writeNote(b, 2646, 2646, Wave::square, 0.25, constant(659.25));
            writeNote(b, 5292, 2646, Wave::square, 0.25, constant(783.99));
            return b;
        }
        case SoundType::agentComplete: {
            std::vector<float> b(8820, 0.0f);
            writeNote(b, 0, 2205, Wave::square, 0.25, constant(783.99));
            writeNote(b, 2205, 2205, Wave::square, 0.25, constant(659.25));
            writeNote(b, 4410, 2205, Wave::square, 0.25, constant(523.25));
            writeNote(b, 6615, 2205, Wave::square, 0.3, constant(1046.5));
            return b;
        }
        case SoundType::agentPermission: {
            std::vector<float> b(9702, 0.0f);
            writeNote(b, 0, 3087, Wave::square, 0.3, constant(880));
            writeNote(b, 6615, 3087, Wave::square, 0.3, constant(880));
            return b;
        }
    }
    return {};
}

QByteArray SoundFeedback::makeWAV(const std::vector<float>& samples) {
    // The data size and the RIFF size field must both fit 32 bits.
    const uint64_t dataSize = 2ull * samples.size();
    if (dataSize + 36 > 0xFFFFFFFFull) return {};
    QByteArray out;
    out.reserve(static_cast<qsizetype>(44 + dataSize));
    auto u32 = [&out](uint32_t v) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    };
    auto u16 = [&out](uint16_t v) {
        char b[2];
        qToLittleEndian(v, b);
        out.append(b, 2);
    };
    out.append("RIFF", 4);
    u32(static_cast<uint32_t>(dataSize + 36));
    out.append("WAVE", 4);
    out.append("fmt ", 4);
    u32(16);
    u16(1);
    u16(1);
    u32(44100);
    u32(88200);
    u16(2);
    u16(16);
    out.append("data", 4);
    u32(static_cast<uint32_t>(dataSize));
    for (float s : samples) {
        const double clamped = std::isnan(s) ? 0.0 : std::clamp(static_cast<double>(s), -1.0, 1.0);
        u16(static_cast<uint16_t>(static_cast<int16_t>(std::trunc(clamped * 32767.0))));
    }
    return out;
}

void SoundFeedback::prepareSounds() {
    for (SoundType type : kAllSoundTypes) {
        const auto id = output_.prepare(makeWAV(synthesize(type)));
        if (id) sounds_[type] = *id;
    }
}

void SoundFeedback::play(SoundType type) {
    if (!config_.isSoundEnabled(type)) return;
    const auto it = sounds_.find(type);
    if (it == sounds_.end()) return;
    output_.stop(it->second);
    output_.play(it->second);
}

}  // namespace vocalynx
