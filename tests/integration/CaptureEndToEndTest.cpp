// The microphone road end to end: the private sound server's test microphone, Qt Multimedia capture,
// the engine's readiness, conversion and level rules, and the stand-in speech program, which
// reports the dominant frequency of the audio it receives.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include "FakeSoundOutput.h"
#include "LiveRuntime.h"
#include "ToneAnalysis.h"
#include "core/ConfigStore.h"
#include "core/SoundFeedback.h"
#include "engine/ModelCheck.h"
#include "engine/WhisperEngine.h"
#include "platform/linux/PosixProcessLauncher.h"
#include "platform/linux/QtAudioCapture.h"
#include "platform/linux/SampleRateConverter.h"

namespace vocalynx::test {
namespace {

const QString kStandIn = QStringLiteral(VOCALYNX_TEST_TOOLS_DIR "/coli_standin");

QString pactl(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Unloads the remap-source modules whose arguments hold the text.
void unloadSource(const QString& sourceName) {
    for (const QString& line : pactl({"list", "short", "modules"}).split('\n'))
        if (line.contains("module-remap-source") && line.contains("source_name=" + sourceName + " "))
            pactl({"unload-module", line.section('\t', 0, 0)});
}

bool listed(QtAudioCapture& capture, const QString& name) {
    for (const auto& d : capture.inputDevices())
        if (d.name == name) return true;
    return false;
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value) : name_(name) { qputenv(name, value); }
    ~ScopedEnv() { qunsetenv(name_); }

private:
    const char* name_;
};

// Plays a tone (or digital silence, at frequency 0) into the null sink as 48 kHz stereo float.
class TonePlayer {
public:
    void play(double frequency, double secondsValue) {
        process_.start(QStringLiteral("pacat"), {"--playback", "--device=vocalynx_sink", "--format=float32le",
                                                 "--rate=48000", "--channels=2", "--raw", "--latency-msec=50"});
        ASSERT_TRUE(process_.waitForStarted(5000));
        const double amplitude = frequency > 0 ? 0.5 : 0.0;
        process_.write(toneBuffer(frequency, static_cast<int>(48000 * secondsValue), 48000, 2, SampleFormat::float32,
                                  0, amplitude)
                           .bytes);
        process_.closeWriteChannel();
    }
    bool finished() { return process_.state() == QProcess::NotRunning; }
    ~TonePlayer() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

private:
    QProcess process_;
};

class EndToEndEngine : public WhisperEngine {
public:
    using WhisperEngine::WhisperEngine;
    std::shared_ptr<CaptureSession> runningSession() const { return captureSession_; }
};

class CaptureEndToEnd : public ::testing::Test {
protected:
    CaptureEndToEnd() {
        guiApplication();
        const QString home = rt.runtime().paths.home;
        QDir().mkpath(home + "/.local/bin");
        QFile::link(kStandIn, home + "/.local/bin/coli");
        const QString model = speechModelPath(home);
        QDir().mkpath(QFileInfo(model).path());
        QFile f(model);
        if (f.open(QIODevice::WriteOnly)) f.resize(200'000'000);  // sparse, big enough for the check
    }
    ~CaptureEndToEnd() override {
        if (engine) {
            engine->shutdown();
            engine.reset();
        }
    }

    void startEngine() {
        engine = std::make_unique<EndToEndEngine>(WhisperEngine::Dependencies{
            rt.runtime(), config, sounds, nullptr, nullptr, &capture, &converters, &launcher});
        engine->warmUpColi();
        ASSERT_TRUE(processEventsUntil([&] { return standInLog().filter("start pid=").size() == 1; }))
            << rt.log.lines().join('\n').toStdString();
    }

    QStringList standInLog() const {
        QFile f(logPath);
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    // The frequencies the stand-in reported, one per half second of audio it received.
    std::vector<int> reportedFrequencies() const {
        static const QRegularExpression re(QStringLiteral("\"frequency\":(\\d+)"));
        std::vector<int> out;
        for (const QString& line : standInLog())
            if (auto m = re.match(line); line.startsWith("line ") && m.hasMatch()) out.push_back(m.captured(1).toInt());
        return out;
    }
    static int windowsNear(const std::vector<int>& frequencies, int target) {
        int n = 0;
        for (int f : frequencies) n += std::abs(f - target) <= target / 50;  // within 2 %
        return n;
    }

    LiveRuntime rt;
    QString logPath = rt.root() + "/standin.log";
    ScopedEnv logVar{"COLI_STANDIN_LOG", logPath.toUtf8()};
    ScopedEnv frequencyVar{"COLI_STANDIN_FREQUENCY", "1"};
    ConfigStore config{rt.runtime()};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    QtAudioCapture capture;
    SampleRateConverterFactory converters;
    PosixProcessLauncher launcher;
    std::unique_ptr<EndToEndEngine> engine;
};

}  // namespace

TEST_F(CaptureEndToEnd, AToneAtTheMicrophoneReachesTheSpeechProgramAsSixteenKilohertzMono) {
    startEngine();
    engine->startRecording([](const QString&) {});
    ASSERT_TRUE(processEventsUntil([&] { return rt.log.contains("[Vocalynx] Recording started"); }))
        << rt.log.lines().join('\n').toStdString();

    // 48 kHz stereo float from the sound server, 16 kHz mono s16 at the stand-in: the pitch and the
    // length of the tone survive (a wrong rate would move the pitch, a wrong channel count would
    // stretch or squeeze both).
    TonePlayer player;
    player.play(1000, 3.0);
    ASSERT_TRUE(processEventsUntil([&] { return windowsNear(reportedFrequencies(), 1000) >= 5; }, 15000))
        << testing::PrintToString(reportedFrequencies());
    EXPECT_TRUE(engine->micReady());
    ASSERT_TRUE(processEventsUntil([&] { return player.finished(); }, 10000));
    // A little of the silence after the tone, so that its last window is complete.
    processEventsUntil([&] { return reportedFrequencies().size() >= windowsNear(reportedFrequencies(), 1000) + 2u; }, 3000);
    const std::vector<int> frequencies = reportedFrequencies();
    // Three seconds of tone fill five or six half-second windows, depending on where it begins.
    EXPECT_GE(windowsNear(frequencies, 1000), 5) << testing::PrintToString(frequencies);
    EXPECT_LE(windowsNear(frequencies, 1000), 7) << testing::PrintToString(frequencies);

    engine->stopRecording();
    ASSERT_TRUE(processEventsUntil([&] { return engine->state() == RecordingState::idle; }, 10000));
}

TEST_F(CaptureEndToEnd, AnotherInputFormatMidRecordingGetsItsOwnConverter) {
    // A second microphone on the same speaker, 44.1 kHz mono signed 16-bit.
    pactl({"load-module", "module-remap-source", "source_name=vocalynx_mic_b", "master=vocalynx_sink.monitor",
           "format=s16le", "rate=44100", "channels=1", "source_properties=device.description=VocalynxTestMicB"});
    struct Cleanup {
        ~Cleanup() { unloadSource("vocalynx_mic_b"); }
    } cleanup;
    ASSERT_TRUE(processEventsUntil([&] { return listed(capture, "VocalynxTestMicB"); }));

    startEngine();
    engine->startRecording([](const QString&) {});
    ASSERT_TRUE(processEventsUntil([&] { return rt.log.contains("[Vocalynx] Recording started"); }));
    TonePlayer player;
    player.play(1000, 6.0);
    ASSERT_TRUE(processEventsUntil([&] { return windowsNear(reportedFrequencies(), 1000) >= 2; }, 15000))
        << testing::PrintToString(reportedFrequencies());

    // The buffers now come from the other device, in its own format.
    std::optional<AudioInputDevice> other;
    for (const auto& d : capture.inputDevices())
        if (d.name == "VocalynxTestMicB") other = d;
    ASSERT_TRUE(other.has_value());
    QString error;
    auto second = capture.makeSession(*other, error);
    ASSERT_NE(second, nullptr) << error.toStdString();
    engine->runningSession()->setSampleBufferHandler(nullptr, nullptr);
    engine->attachSampleBufferHandler(*second);
    second->startRunning();
    ASSERT_TRUE(second->isRunning());
    const size_t before = reportedFrequencies().size();
    ASSERT_TRUE(processEventsUntil(
        [&] {
            const auto f = reportedFrequencies();
            return f.size() >= before + 4;
        },
        15000));
    // The first window after the switch may straddle both devices.
    const std::vector<int> all = reportedFrequencies();
    const std::vector<int> after(all.begin() + static_cast<long>(before) + 1, all.end());
    EXPECT_GE(windowsNear(after, 1000), 3) << testing::PrintToString(reportedFrequencies());
    second->setSampleBufferHandler(nullptr, nullptr);
    second->tearDown();
    engine->stopRecording();
    ASSERT_TRUE(processEventsUntil([&] { return engine->state() == RecordingState::idle; }, 10000));
}

TEST_F(CaptureEndToEnd, DigitalSilenceIsReadyByTheFailsafeAndCancelledForNoSpeech) {
    // The recogniser hears nothing: no transcript lines at all.
    qunsetenv("COLI_STANDIN_FREQUENCY");
    startEngine();
    TonePlayer player;
    player.play(0, 12.0);  // zeros: a microphone that delivers only digital silence
    engine->startRecording([](const QString&) { ADD_FAILURE() << "a cancelled recording calls no completion"; });
    ASSERT_TRUE(processEventsUntil([&] { return rt.log.containsPart("micReady failsafe elapsed="); }, 8000))
        << rt.log.lines().join('\n').toStdString();
    ASSERT_TRUE(processEventsUntil(
        [&] { return rt.log.contains("[Vocalynx] No speech detected within 5.0s, cancelling recording"); }, 10000));
    ASSERT_TRUE(processEventsUntil([&] { return engine->state() == RecordingState::idle; }, 5000));
    EXPECT_TRUE(rt.log.contains("[Vocalynx] Recording cancelled (no speech)"));
    EXPECT_FALSE(rt.log.containsPart("Mic startup watchdog fired")) << "readiness cancelled the watchdog";
}

TEST_F(CaptureEndToEnd, LosingTheMicrophoneCancelsTheRecordingAndNoMicrophoneFailsTheStart) {
    startEngine();
    engine->startRecording([](const QString&) {});
    ASSERT_TRUE(processEventsUntil([&] { return rt.log.contains("[Vocalynx] Recording started"); }));

    struct Restore {
        ~Restore() {
            const QStringList args =
                QString::fromLocal8Bit(qgetenv("VOCALYNX_TEST_MIC_ARGS")).split(' ', Qt::SkipEmptyParts);
            pactl(QStringList{"load-module", "module-remap-source"} + args);
            pactl({"set-default-source", "vocalynx_mic"});
            QtAudioCapture capture;
            processEventsUntil([&] { return listed(capture, "VocalynxTestMic"); });
        }
    } restore;
    unloadSource("vocalynx_mic");
    ASSERT_TRUE(processEventsUntil([&] { return engine->state() == RecordingState::collapsing; }, 10000))
        << rt.log.lines().join('\n').toStdString();
    EXPECT_TRUE(rt.log.contains("[Vocalynx] Capture session interrupted during recording, cancelling..."));
    EXPECT_TRUE(rt.log.contains("[Vocalynx] Recording cancelled (no speech)"));
    ASSERT_TRUE(processEventsUntil([&] { return engine->state() == RecordingState::idle; }, 5000));

    // No microphone at all: the start fails at once and leaves the engine idle.
    ASSERT_TRUE(processEventsUntil([&] { return !listed(capture, "VocalynxTestMic"); }));
    engine->discardPreparedSession();
    rt.log.clear();
    engine->startRecording([](const QString&) { ADD_FAILURE() << "a failed start calls no completion"; });
    EXPECT_TRUE(rt.log.contains("[Vocalynx] No microphone available"));
    EXPECT_TRUE(rt.log.contains("[Vocalynx] Failed to get microphone input"));
    EXPECT_EQ(engine->state(), RecordingState::idle);
    EXPECT_TRUE(rt.log.containsPart("state recording -> idle reason=startRecordingFailed"));
}

}  // namespace vocalynx::test
