// Compares the capture conversion path (down-mix, resampling, 16-bit samples) with sox doing the
// same work (the same input and output formats, 16 kHz mono signed 16-bit raw, through pipes; the
// channels averaged; its medium-quality linear-phase resampler, the class of ours; no dither), in
// one run:
//  - speed on 60 s of 48 kHz stereo float audio, ours in 20 ms buffers (what the capture hands
//    over) on one core, sox on the whole stream, its cost of starting a process measured on empty
//    input and taken off; the two are measured in turn, round after round, so that both see the
//    same load; minimum and median over the rounds;
//  - the level of a 7 kHz tone relative to a 1 kHz tone (the top of the speech band);
//  - the level at 6 kHz that a 10 kHz input tone leaves behind (what a missing low-pass filter
//    would fold down), relative to the tone.
// Targets: at least 3 times sox's speed, within 1 dB at 7 kHz, alias at or below -100 dB.
//
// Usage: bench_conversion [rounds]   (default 7)

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <random>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>

#include <soxr.h>

#include "ToneAnalysis.h"
#include "platform/linux/SampleRateConverter.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

constexpr double kSeconds = 60;
constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kBufferFrames = 960;
constexpr double kToneAmplitude = 0.5;
// The float reference's residue is amplified by this much before it is rounded to 16 bits.
constexpr float kReferenceGain = 1e4f;

double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double childCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Speech-band content: a few harmonics with a slow envelope, plus a little noise.
QByteArray makeInput() {
    const long long frames = static_cast<long long>(kSeconds * kRate);
    QByteArray bytes(static_cast<qsizetype>(frames * kChannels * 4), Qt::Uninitialized);
    auto* p = reinterpret_cast<float*>(bytes.data());
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    for (long long i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        const double env = 0.5 + 0.5 * std::sin(2 * M_PI * 3 * t);
        const double v = env * (0.3 * std::sin(2 * M_PI * 220 * t) + 0.15 * std::sin(2 * M_PI * 660 * t) +
                                0.08 * std::sin(2 * M_PI * 1800 * t));
        p[2 * i] = static_cast<float>(v) + noise(rng);
        p[2 * i + 1] = static_cast<float>(v * 0.8) + noise(rng);
    }
    return bytes;
}

// 1.5 s of a tone, 48 kHz stereo float.
QByteArray toneInput(double frequency) {
    return toneBuffer(frequency, kRate * 3 / 2, kRate, kChannels, SampleFormat::float32, 0, kToneAmplitude).bytes;
}

// Ours: the input in 20 ms buffers, then the end of the stream.
QByteArray convertOurs(const QByteArray& input) {
    auto converter = SampleRateConverter::make({SampleFormat::float32, kRate, kChannels});
    if (!converter) return {};
    SampleBuffer buffer;
    buffer.format = SampleFormat::float32;
    buffer.sampleRate = kRate;
    buffer.channelCount = kChannels;
    buffer.frameCount = kBufferFrames;
    const qsizetype bufferBytes = kBufferFrames * kChannels * 4;
    QByteArray out;
    out.reserve(input.size() / 12 + 4096);
    for (qsizetype offset = 0; offset + bufferBytes <= input.size(); offset += bufferBytes) {
        // The capture adapter hands over a fresh byte array per buffer; so does the benchmark.
        buffer.bytes = input.mid(offset, bufferBytes);
        if (auto bytes = converter->convert(buffer)) out += *bytes;
    }
    if (auto tail = converter->flush()) out += *tail;
    return out;
}

// sox doing the same work: the same input and output formats through pipes, the channels averaged,
// then its medium-quality linear-phase resampler (the class of ours) and no dither. Its cost of
// starting a process is measured apart, on empty input, and taken off.
struct Sox {
    QString program;
    double wall = 0, cpu = 0;
    QString error;

    static QStringList arguments() {
        return {QStringLiteral("-D"),  // no dither
                QStringLiteral("-t"), QStringLiteral("raw"), QStringLiteral("-e"), QStringLiteral("floating-point"),
                QStringLiteral("-b"), QStringLiteral("32"), QStringLiteral("-c"), QStringLiteral("2"),
                QStringLiteral("-r"), QStringLiteral("48000"), QStringLiteral("-"),
                QStringLiteral("-t"), QStringLiteral("raw"), QStringLiteral("-e"), QStringLiteral("signed-integer"),
                QStringLiteral("-b"), QStringLiteral("16"), QStringLiteral("-c"), QStringLiteral("1"),
                QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-"),
                QStringLiteral("channels"), QStringLiteral("1"),
                QStringLiteral("rate"), QStringLiteral("-m"), QStringLiteral("-L"), QStringLiteral("16000")};
    }
    // Converts the input through sox's standard input and output; wall and cpu say what it took.
    std::optional<QByteArray> convert(const QByteArray& input) {
        QProcess process;
        const double cpu0 = childCpuSeconds();
        QElapsedTimer timer;
        timer.start();
        process.start(program, arguments());
        if (!process.waitForStarted(5000)) {
            error = QStringLiteral("sox did not start");
            return std::nullopt;
        }
        QByteArray output;
        output.reserve(input.size() / 12 + 4096);
        process.write(input);
        process.closeWriteChannel();
        while (process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(100);
            output += process.readAllStandardOutput();
        }
        output += process.readAllStandardOutput();
        wall = double(timer.nsecsElapsed()) / 1e9;
        cpu = childCpuSeconds() - cpu0;
        if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) return output;
        error = QString::fromLocal8Bit(process.readAllStandardError());
        return std::nullopt;
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double decibels(double ratio) { return ratio > 0 ? 20 * std::log10(ratio) : -400; }

// The amplitude of a frequency in one steady second of converted audio (0.25 s to 1.25 s, clear of
// the filter's start and of the stream's end).
double amplitudeAt(const QByteArray& converted, double frequency) {
    const std::vector<float> samples = samplesFromS16(converted);
    if (samples.size() < 20000) return 0;
    return toneAmplitude(std::vector<float>(samples.begin() + 4000, samples.begin() + 20000), frequency, 16000);
}

// The same resampler recipe with float output, to give the filter's own alias level where the
// 16-bit samples round it away: the down-mixed tone in 20 ms portions, then the end of the stream.
QByteArray convertFloatReference(const QByteArray& input) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ, 0);
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_min_dft_size = runtime.log2_large_dft_size = 8;
    soxr_t resampler = soxr_create(kRate, 16000, 1, nullptr, &io, &quality, &runtime);
    if (!resampler) return {};
    const auto* in = reinterpret_cast<const float*>(input.constData());
    const size_t frames = size_t(input.size()) / (4 * kChannels);
    std::vector<float> mono(frames), out(frames / 2 + 4096);
    for (size_t i = 0; i < frames; ++i) mono[i] = (in[2 * i] + in[2 * i + 1]) * 0.5f;
    size_t produced = 0;
    for (size_t at = 0; at < frames; at += kBufferFrames) {
        size_t done = 0;
        soxr_process(resampler, mono.data() + at, std::min<size_t>(kBufferFrames, frames - at), nullptr,
                     out.data() + produced, out.size() - produced, &done);
        produced += done;
    }
    size_t done = 0;
    soxr_process(resampler, nullptr, 0, nullptr, out.data() + produced, out.size() - produced, &done);
    produced += done;
    soxr_delete(resampler);
    // As 16-bit-scaled floats are not what samplesFromS16 reads, hand back s16 of the amplified
    // signal: the caller divides the amplification out.
    QByteArray bytes(qsizetype(produced) * 2, Qt::Uninitialized);
    auto* s = reinterpret_cast<qint16*>(bytes.data());
    for (size_t i = 0; i < produced; ++i)
        s[i] = qint16(std::clamp(std::lround(out[i] * kReferenceGain * 32768.0f), -32768L, 32767L));
    return bytes;
}

struct Tones {
    double levelAt7k = 0;  // dB relative to 1 kHz
    double aliasAt6k = 0;  // dB relative to the 10 kHz input tone
};

template <typename Convert>
Tones measureTones(Convert convert, double gain = 1) {
    const double at1k = amplitudeAt(convert(toneInput(1000)), 1000);
    const double at7k = amplitudeAt(convert(toneInput(7000)), 7000);
    const double alias = amplitudeAt(convert(toneInput(10000)), 6000) / gain;
    return {decibels(at7k / at1k), decibels(alias / kToneAmplitude)};
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;

    // One core: the conversion runs on the audio queue's single thread.
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(static_cast<size_t>(sched_getcpu()), &set);
    sched_setaffinity(0, sizeof set, &set);

    const QByteArray input = makeInput();
    Sox sox;
    sox.program = QStandardPaths::findExecutable(QStringLiteral("sox"));
    const bool haveSox = !sox.program.isEmpty();

    std::vector<double> oursWall, oursCpu, soxWall, soxCpu, startWall, startCpu;
    qsizetype oursBytes = 0, soxBytes = 0;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer timer;
        const double cpu0 = threadCpuSeconds();
        timer.start();
        oursBytes = convertOurs(input).size();
        oursWall.push_back(double(timer.nsecsElapsed()) / 1e9);
        oursCpu.push_back(threadCpuSeconds() - cpu0);
        if (!haveSox) continue;
        if (const auto out = sox.convert(input)) {
            soxBytes = out->size();
            soxWall.push_back(sox.wall);
            soxCpu.push_back(sox.cpu);
        }
        if (sox.convert(QByteArray())) {
            startWall.push_back(sox.wall);
            startCpu.push_back(sox.cpu);
        }
    }

    std::printf("input: %.0f s of %d Hz %d-channel float; ours in %d-frame buffers on one core; %d rounds, "
                "ours and sox in turn\n",
                kSeconds, kRate, kChannels, kBufferFrames, rounds);
    std::printf("sox: %s %s\n", qPrintable(sox.program), qPrintable(Sox::arguments().join(QLatin1Char(' '))));
    std::printf("%-32s %10s %10s %10s %10s %12s\n", "", "wall min", "wall med", "cpu min", "cpu med", "x real time");
    auto row = [](const char* what, const std::vector<double>& wall, const std::vector<double>& cpu) {
        std::printf("%-32s %8.1fms %8.1fms %8.1fms %8.1fms %11.0fx\n", what,
                    *std::min_element(wall.begin(), wall.end()) * 1e3, median(wall) * 1e3,
                    *std::min_element(cpu.begin(), cpu.end()) * 1e3, median(cpu) * 1e3, kSeconds / median(wall));
    };
    row("vocalynx (libsoxr)", oursWall, oursCpu);
    std::printf("  output %lld bytes (60 s at 16 kHz is 1920000)\n", static_cast<long long>(oursBytes));
    if (soxWall.empty() || startWall.empty()) {
        std::printf("sox: %s\n", !haveSox ? "not installed, no comparison" : qPrintable(sox.error));
    } else {
        row("sox, same work through pipes", soxWall, soxCpu);
        std::printf("  output %lld bytes\n", static_cast<long long>(soxBytes));
        row("sox on empty input (its start)", startWall, startCpu);
        const double soxWork = median(soxCpu) - median(startCpu);
        std::printf("sox's conversion alone (cpu medians, its start taken off): %.1f ms\n", soxWork * 1e3);
        std::printf("vocalynx / sox speed on equal work: %.2fx cpu (goal: at least 3x); %.2fx with sox's start\n",
                    soxWork / median(oursCpu), median(soxCpu) / median(oursCpu));
    }

    auto tones = [](const char* what, const Tones& t) {
        std::printf("%-28s 7 kHz vs 1 kHz %+6.3f dB   10 kHz alias at 6 kHz ", what, t.levelAt7k);
        // Without dither, a residue below half a 16-bit step rounds to nothing.
        if (t.aliasAt6k <= -300) std::printf("none left in the 16-bit samples\n");
        else std::printf("%.1f dB\n", t.aliasAt6k);
    };
    std::printf("targets: 7 kHz within 1 dB of 1 kHz; alias at or below -100 dB\n");
    tones("vocalynx (libsoxr)", measureTones(convertOurs));
    {
        // Only the alias level means something here (the tones themselves clip once amplified).
        const Tones reference = measureTones(convertFloatReference, kReferenceGain);
        std::printf("%-28s 10 kHz alias at 6 kHz %.1f dB\n", "  its filter, float output", reference.aliasAt6k);
    }
    if (haveSox)
        tones("sox (same work)", measureTones([&sox](const QByteArray& in) { return sox.convert(in).value_or(QByteArray()); }));
    return 0;
}
