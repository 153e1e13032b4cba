#include "ToneAnalysis.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace vocalynx::test {

SampleBuffer toneBuffer(double frequency, int frames, double rate, int channels, SampleFormat format,
                        long long startFrame, double amplitude) {
    SampleBuffer b;
    b.format = format;
    b.frameCount = frames;
    b.sampleRate = rate;
    b.channelCount = channels;
    const int bytesPerSample = format == SampleFormat::float32 ? 4 : 2;
    b.bytes.resize(static_cast<qsizetype>(frames) * channels * bytesPerSample);
    char* p = b.bytes.data();
    for (int i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2 * M_PI * frequency * static_cast<double>(startFrame + i) / rate);
        for (int c = 0; c < channels; ++c) {
            if (format == SampleFormat::float32) {
                const float f = static_cast<float>(v);
                std::memcpy(p, &f, 4);
                p += 4;
            } else {
                const qint16 s = static_cast<qint16>(std::lround(v * 32767));
                std::memcpy(p, &s, 2);
                p += 2;
            }
        }
    }
    return b;
}

std::vector<float> samplesFromS16(const QByteArray& bytes) {
    std::vector<float> out(static_cast<size_t>(bytes.size() / 2));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<float>(qFromLittleEndian<qint16>(bytes.constData() + 2 * i)) / 32768.0f;
    return out;
}

namespace {
// Goertzel power of one frequency.
double power(const std::vector<float>& x, double frequency, double rate) {
    const double w = 2 * M_PI * frequency / rate;
    const double coeff = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (float v : x) {
        const double s0 = v + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}
}  // namespace

double dominantFrequency(const std::vector<float>& samples, double rate) {
    if (samples.empty()) return 0;
    // A coarse scan in 10 Hz steps, then 0.5 Hz steps around the best one.
    double best = 20, bestPower = -1;
    for (double f = 20; f < rate / 2; f += 10) {
        const double p = power(samples, f, rate);
        if (p > bestPower) bestPower = p, best = f;
    }
    const double coarse = best;
    for (double f = coarse - 10; f <= coarse + 10; f += 0.5) {
        const double p = power(samples, f, rate);
        if (p > bestPower) bestPower = p, best = f;
    }
    return best;
}

double toneAmplitude(const std::vector<float>& samples, double frequency, double rate) {
    if (samples.empty()) return 0;
    return 2 * std::sqrt(std::max(0.0, power(samples, frequency, rate))) / double(samples.size());
}

double rms(const std::vector<float>& samples) {
    if (samples.empty()) return 0;
    double sum = 0;
    for (float v : samples) sum += static_cast<double>(v) * v;
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

}  // namespace vocalynx::test
