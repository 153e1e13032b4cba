#pragma once
// Test audio: sine tones as capture buffers, and the frequency analysis that checks converted audio.

#include <QByteArray>
#include <vector>

#include "platform/AudioCapture.h"

namespace vocalynx::test {

// A sine tone of the given amplitude, the same on every channel, continuing from startFrame so that
// consecutive buffers join without a step.
SampleBuffer toneBuffer(double frequency, int frames, double rate, int channels, SampleFormat format,
                        long long startFrame = 0, double amplitude = 0.5);

// Signed 16-bit little-endian samples as floats in [-1, 1).
std::vector<float> samplesFromS16(const QByteArray& bytes);

// The frequency with the most energy between 20 Hz and half the rate, to within about 1 Hz.
double dominantFrequency(const std::vector<float>& samples, double rate);

double rms(const std::vector<float>& samples);

// The amplitude of one frequency in the samples (a sine of amplitude a measures a), best exact when
// the samples hold a whole number of its periods.
double toneAmplitude(const std::vector<float>& samples, double frequency, double rate);

}  // namespace vocalynx::test
