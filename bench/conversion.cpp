// Measures the capture conversion path (down-mix, resampling, 16-bit samples) on 60 s of 48 kHz
// stereo float audio delivered in 10 ms buffers, on one core, and sox converting the same input to
// the same format (16 kHz mono signed 16-bit raw) on the same machine.
//
// Usage: bench_conversion [rounds]   (default 5; the best round counts)

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <random>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>

#include "ToneAnalysis.h"
#include "platform/linux/SampleRateConverter.h"

using namespace vocalynx;

namespace {

constexpr double kSeconds = 60;
constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kBufferFrames = 480;

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

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    // One core: the conversion runs on the audio queue's single thread.
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(sched_getcpu(), &set);
    sched_setaffinity(0, sizeof set, &set);

    const QByteArray input = makeInput();
    const qsizetype bufferBytes = kBufferFrames * kChannels * 4;

    double bestWall = 1e9, bestCpu = 1e9;
    qsizetype outputBytes = 0;
    for (int r = 0; r < rounds; ++r) {
        auto converter = SampleRateConverter::make({SampleFormat::float32, kRate, kChannels});
        SampleBuffer buffer;
        buffer.format = SampleFormat::float32;
        buffer.sampleRate = kRate;
        buffer.channelCount = kChannels;
        buffer.frameCount = kBufferFrames;
        outputBytes = 0;
        QElapsedTimer timer;
        const double cpu0 = threadCpuSeconds();
        timer.start();
        for (qsizetype offset = 0; offset + bufferBytes <= input.size(); offset += bufferBytes) {
            // The capture adapter hands over a fresh byte array per buffer; so does the benchmark.
            buffer.bytes = input.mid(offset, bufferBytes);
            if (auto out = converter->convert(buffer)) outputBytes += out->size();
        }
        const double wall = double(timer.nsecsElapsed()) / 1e9;
        const double cpu = threadCpuSeconds() - cpu0;
        bestWall = std::min(bestWall, wall);
        bestCpu = std::min(bestCpu, cpu);
    }
    std::printf("input: %.0f s of %d Hz %d-channel float in %d-frame buffers\n", kSeconds, kRate, kChannels,
                kBufferFrames);
    std::printf("vocalynx (libsamplerate): best of %d: %.1f ms wall, %.1f ms cpu -> %.0fx real time, output %lld bytes\n",
                rounds, bestWall * 1e3, bestCpu * 1e3, kSeconds / bestWall, static_cast<long long>(outputBytes));

    const QString sox = QStandardPaths::findExecutable(QStringLiteral("sox"));
    if (sox.isEmpty()) {
        std::printf("sox: not installed, no comparison\n");
        return 0;
    }
    // Input and output in memory-backed storage where there is one, so that the disk is not measured.
    const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QTemporaryDir dir(base + QStringLiteral("/vocalynx-bench-XXXXXX"));
    const QString in = dir.filePath(QStringLiteral("in.f32")), out = dir.filePath(QStringLiteral("out.s16"));
    QFile file(in);
    if (!file.open(QIODevice::WriteOnly) || file.write(input) != input.size()) {
        std::printf("sox: cannot write the input file\n");
        return 0;
    }
    file.close();
    const QStringList args{"-t", "raw", "-e", "floating-point", "-b", "32", "-c", "2", "-r", "48000", in,
                           "-t", "raw", "-e", "signed-integer", "-b", "16", "-c", "1", "-r", "16000", out};
    double soxWall = 1e9, soxCpu = 1e9;
    for (int r = 0; r < rounds; ++r) {
        QProcess process;
        const double cpu0 = childCpuSeconds();
        QElapsedTimer timer;
        timer.start();
        process.start(sox, args);
        process.waitForFinished(-1);
        const double wall = double(timer.nsecsElapsed()) / 1e9;
        if (process.exitCode() != 0) {
            std::printf("sox failed: %s\n", process.readAllStandardError().constData());
            return 0;
        }
        soxWall = std::min(soxWall, wall);
        soxCpu = std::min(soxCpu, childCpuSeconds() - cpu0);
    }
    std::printf("sox (default rate quality, same input and output format): best of %d: %.1f ms wall, %.1f ms cpu "
                "-> %.0fx real time, output %lld bytes\n",
                rounds, soxWall * 1e3, soxCpu * 1e3, kSeconds / soxWall, static_cast<long long>(QFileInfo(out).size()));
    std::printf("vocalynx / sox speed: %.2fx (wall), %.2fx (cpu)\n", soxWall / bestWall, soxCpu / bestCpu);
    return 0;
}
