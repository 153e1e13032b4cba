#pragma once
// The speech engine on the real launcher, converter and clock, with the stand-in speech program
// (tests/tools/coli_standin) as its speech program and a fake microphone, and the small helpers the
// tests around it share: a home with the stand-in and a model file, the stand-in's own log, and a
// tone as a microphone delivers it.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <memory>
#include <vector>

#include "FakeCapture.h"
#include "FakeSoundOutput.h"
#include "LiveRuntime.h"
#include "RecordingLogger.h"
#include "SpeechHome.h"
#include "TestRuntime.h"
#include "engine/WhisperEngine.h"
#include "platform/linux/PosixProcessLauncher.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/SampleRateConverter.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/ThreadQueues.h"

namespace vocalynx::test {

// Runs the event loop until pred holds or the time is up.
template <typename Pred>
bool waitFor(Pred pred, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

inline QStringList fileLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The process ids the stand-in wrote to its log, one line a start.
inline QList<pid_t> startedPids(const QString& log) {
    QList<pid_t> out;
    static const QRegularExpression re(QStringLiteral("^start pid=(\\d+) "));
    for (const QString& line : fileLines(log))
        if (auto m = re.match(line); m.hasMatch()) out << static_cast<pid_t>(m.captured(1).toInt());
    return out;
}

// Interleaved float buffers of a sine as a 48 kHz stereo microphone delivers them, 10 ms each.
inline std::vector<SampleBuffer> microphoneSine(double hz, double seconds) {
    const int rate = 48000, frames = 480, channels = 2;
    std::vector<SampleBuffer> out;
    long long n = 0;
    for (int b = 0; b < static_cast<int>(seconds * rate / frames); ++b) {
        SampleBuffer buffer;
        buffer.format = SampleFormat::float32;
        buffer.frameCount = frames;
        buffer.sampleRate = rate;
        buffer.channelCount = channels;
        buffer.bytes.resize(frames * channels * 4);
        auto* samples = reinterpret_cast<float*>(buffer.bytes.data());
        for (int i = 0; i < frames; ++i, ++n)
            for (int c = 0; c < channels; ++c)
                samples[i * channels + c] =
                    static_cast<float>(0.4 * std::sin(2 * M_PI * hz * static_cast<double>(n) / rate));
        out.push_back(std::move(buffer));
    }
    return out;
}

// The production runtime pieces, with the folders of one temporary home.
struct RealRuntime {
    RealRuntime() : paths(Paths::under(dir.path())) {}
    QTemporaryDir dir;
    SystemClock clock;
    QtMainQueue main;
    ThreadQueueFactory queues;
    NotificationCenter notifications;
    RecordingLogger log;
    Diagnostics diagnostics{log};
    InfoDictionary info{TestRuntime::defaultInfo()};
    Paths paths;
    Runtime runtime{clock, main, queues, notifications, log, diagnostics, info, paths};
};

// An environment variable set for the lifetime of the object (the stand-in reads its own).
class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const QByteArray& value) : name_(name) { qputenv(name, value); }
    ~EnvironmentVariable() { qunsetenv(name_); }
    EnvironmentVariable(const EnvironmentVariable&) = delete;
    EnvironmentVariable& operator=(const EnvironmentVariable&) = delete;

private:
    const char* name_;
};

// The engine on the real launcher, converter and clock, with the stand-in as its speech program and
// a fake microphone. The stand-in's variables must be set before makeEngine.
struct StandInRig {
    StandInRig() {
        guiApplication();
        prepareStandInHome(rt->paths.home);
    }
    ~StandInRig() {
        if (engine) engine->shutdown();
        engine.reset();
    }
    StandInRig(const StandInRig&) = delete;
    StandInRig& operator=(const StandInRig&) = delete;

    QString path(const QString& name) const { return rt->dir.path() + QLatin1Char('/') + name; }
    QString path(const char* name) const { return path(QString::fromUtf8(name)); }
    QString write(const QString& name, const QByteArray& text) const {
        QFile f(path(name));
        if (f.open(QIODevice::WriteOnly)) f.write(text);
        return path(name);
    }
    QString write(const char* name, const QByteArray& text) const { return write(QString::fromUtf8(name), text); }
    void makeEngine(ProcessLauncher* processes = nullptr) {
        engine = std::make_unique<WhisperEngine>(WhisperEngine::Dependencies{
            rt->runtime, config, sounds, nullptr, nullptr, &capture, &converters, processes ? processes : &launcher});
    }
    // Starts a dictation and waits until its microphone runs; returns the session the engine
    // records from (the one it prepared ahead, or one built at the start), null when none ran.
    std::shared_ptr<FakeCaptureSession> startDictation() {
        engine->startRecording([this](const QString& text) { completed << text; });
        std::shared_ptr<FakeCaptureSession> microphone;
        if (!waitFor([&] { return (microphone = capture.running()) != nullptr; }))
            ADD_FAILURE() << "the microphone never ran";
        return microphone;
    }
    // Seconds of a loud tone, as a speaking user gives.
    static void speak(FakeCaptureSession& microphone, double seconds, double hz = 440) {
        for (const SampleBuffer& buffer : microphoneSine(hz, seconds))
            if (!microphone.deliver(buffer)) ADD_FAILURE() << "the microphone took no buffer";
    }
    bool logged(const QString& part) const { return rt->log.containsPart(part); }
    bool logged(const char* part) const { return rt->log.containsPart(part); }
    std::string logText() const { return rt->log.lines().join(QLatin1Char('\n')).toStdString(); }

    std::unique_ptr<RealRuntime> rt = std::make_unique<RealRuntime>();
    ConfigStore config{rt->runtime};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    FakeCaptureSystem capture;
    SampleRateConverterFactory converters;
    PosixProcessLauncher launcher;
    std::unique_ptr<WhisperEngine> engine;
    QStringList completed;
};

}  // namespace vocalynx::test
