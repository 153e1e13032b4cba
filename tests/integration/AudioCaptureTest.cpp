// Microphone capture through the private sound server: the test microphone is the monitor of a null
// sink remapped into a source, so what the test plays into the sink is what the microphone hears.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <mutex>

#include "FakeSoundOutput.h"
#include "LiveRuntime.h"
#include "SpeechHome.h"
#include "TestSoundServer.h"
#include "ToneAnalysis.h"
#include "core/ConfigStore.h"
#include "core/SoundFeedback.h"
#include "engine/WhisperEngine.h"
#include "platform/linux/PulseDefaultSource.h"
#include "platform/linux/QtAudioCapture.h"
#include "platform/linux/SampleRateConverter.h"

namespace vocalynx::test {
namespace {

const QString kMicName = QStringLiteral("VocalynxTestMic");

bool micListed(QtAudioCapture& capture) {
    for (const auto& d : capture.inputDevices())
        if (d.name == kMicName) return true;
    return false;
}

// Takes the test microphone away from the sound server and always brings it back.
class MicrophoneRemoval {
public:
    void remove() {
        const QString modules = pactl({"list", "short", "modules"});
        for (const QString& line : modules.split(u'\n'))
            if (line.contains(QStringLiteral("module-remap-source")) && line.contains(QStringLiteral("vocalynx_mic")))
                pactl({QStringLiteral("unload-module"), line.section(u'\t', 0, 0)});
        removed_ = true;
    }
    ~MicrophoneRemoval() {
        if (!removed_) return;
        const QStringList args =
            QString::fromLocal8Bit(qgetenv("VOCALYNX_TEST_MIC_ARGS")).split(u' ', Qt::SkipEmptyParts);
        pactl(QStringList{QStringLiteral("load-module"), QStringLiteral("module-remap-source")} + args);
        pactl({"set-default-source", "vocalynx_mic"});
        QtAudioCapture capture;
        processEventsUntil([&] { return micListed(capture); });
    }

private:
    bool removed_ = false;
};

// Plays a tone into the null sink as 48 kHz stereo float, in real time.
class TonePlayer {
public:
    // latencyMs 0 leaves the latency to the server, as most players do (about two seconds).
    void play(double frequency, double secondsValue, int latencyMs = 50) {
        QStringList args{QStringLiteral("--playback"),        QStringLiteral("--device=vocalynx_sink"),
                         QStringLiteral("--format=float32le"), QStringLiteral("--rate=48000"),
                         QStringLiteral("--channels=2"),       QStringLiteral("--raw")};
        if (latencyMs > 0) args << QStringLiteral("--latency-msec=%1").arg(latencyMs);
        process_.start(QStringLiteral("pacat"), args);
        ASSERT_TRUE(process_.waitForStarted(5000));
        const int frames = static_cast<int>(48000 * secondsValue);
        process_.write(toneBuffer(frequency, frames, 48000, 2, SampleFormat::float32).bytes);
        process_.closeWriteChannel();
    }
    ~TonePlayer() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

private:
    ForkedProcess process_;
};

// Collects what a session delivers, on a serial queue as the engine's audio queue would.
struct Collector {
    std::mutex mutex;
    std::vector<SampleBuffer> buffers;
    std::vector<CaptureSessionEvent> events;
    double loudSeconds() {
        std::lock_guard lock(mutex);
        double s = 0;
        for (const auto& b : buffers)
            if (WhisperEngine::sampleBufferRMS(b) > 0.01f) s += b.frameCount / b.sampleRate;
        return s;
    }
    size_t eventCount() {
        std::lock_guard lock(mutex);
        return events.size();
    }
};

class AudioCaptureTest : public ::testing::Test {
protected:
    AudioCaptureTest() { guiApplication(); }
    // A model file big enough for the engine's check and a speech program where it is looked for
    // (never run: these engines launch nothing), so that a dictation starts.
    void installSpeechModel() {
        ASSERT_TRUE(test::installSpeechModel(rt.runtime().paths.home));
        ASSERT_TRUE(test::installPlaceholderSpeechProgram(rt.runtime().paths.home));
    }
    LiveRuntime rt;
    QtAudioCapture capture;
};

}  // namespace

TEST_F(AudioCaptureTest, TheRemappedMonitorIsListedAsTheDefaultMicrophone) {
    ASSERT_TRUE(processEventsUntil([&] { return micListed(capture); }));
    for (const auto& d : capture.inputDevices()) {
        EXPECT_TRUE(d.connected);
        EXPECT_FALSE(d.name.contains(QStringLiteral("Monitor")))
            << d.name.toStdString() << ": a monitor is not a microphone";
    }
    const auto def = capture.defaultInputDevice();
    ASSERT_TRUE(def.has_value());
    EXPECT_EQ(def->name, kMicName);
}

TEST_F(AudioCaptureTest, APlayedToneArrivesAsFloatBuffersAndConvertsToTheSamePitch) {
    const auto device = capture.defaultInputDevice();
    ASSERT_TRUE(device.has_value());
    QString error;
    auto session = capture.makeSession(*device, error);
    ASSERT_NE(session, nullptr) << error.toStdString();
    EXPECT_FALSE(session->isRunning());

    auto queue = rt.runtime().queues.makeSerialQueue("com.vocalynx.audiodata");
    Collector got;
    session->setSampleBufferHandler(
        [&got, queue](const SampleBuffer& b) {
            EXPECT_TRUE(queue->isCurrent());
            std::lock_guard lock(got.mutex);
            got.buffers.push_back(b);
        },
        queue.get());
    session->startRunning();
    ASSERT_TRUE(session->isRunning());

    TonePlayer player;
    player.play(1000, 2.0);
    ASSERT_TRUE(processEventsUntil([&] { return got.loudSeconds() >= 1.5; }, 15000));
    session->tearDown();
    EXPECT_FALSE(session->isRunning());

    std::lock_guard lock(got.mutex);
    auto converter = SampleRateConverter::make({SampleFormat::float32, 48000, 2});
    QByteArray converted;
    for (const auto& b : got.buffers) {
        EXPECT_EQ(b.format, SampleFormat::float32);
        EXPECT_EQ(b.sampleRate, 48000);
        EXPECT_EQ(b.channelCount, 2);
        EXPECT_EQ(b.bytes.size(), b.frameCount * 8);
        if (WhisperEngine::sampleBufferRMS(b) > 0.01f)
            if (auto out = converter->convert(b)) converted += *out;
    }
    const std::vector<float> samples = samplesFromS16(converted);
    ASSERT_GE(samples.size(), 16000u);
    EXPECT_NEAR(dominantFrequency(samples, 16000), 1000, 20);
}

TEST_F(AudioCaptureTest, LosingTheMicrophoneInterruptsTheSessionAndStopsItsRecording) {
    ConfigStore config{rt.runtime()};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    SampleRateConverterFactory converters;
    WhisperEngine engine{{rt.runtime(), config, sounds, nullptr, nullptr, &capture, &converters}};
    installSpeechModel();

    engine.startRecording([](const QString&) {});
    ASSERT_TRUE(processEventsUntil([&] { return rt.log.contains("[Vocalynx] Recording started"); }))
        << rt.log.lines().join(u'\n').toStdString();

    MicrophoneRemoval removal;
    removal.remove();
    ASSERT_TRUE(processEventsUntil(
        [&] {
            return rt.log.contains(
                "[Vocalynx] Microphone went away during recording, stopping: reason=device-removed, device=VocalynxTestMic");
        },
        10000));
    EXPECT_TRUE(rt.log.containsPart("state recording -> transcribing reason=stopRecording"));
    EXPECT_TRUE(rt.log.containsPart("captureSession interrupted details=reason=device-removed, device=VocalynxTestMic"));
    EXPECT_TRUE(rt.log.containsPart("AUTO_DUMP trigger=capture-interrupted"));
    ASSERT_TRUE(processEventsUntil([&] { return engine.state() == RecordingState::idle; }, 5000));

    // With no microphone left, no session can be built.
    ASSERT_TRUE(processEventsUntil([&] { return !micListed(capture); }));
    rt.log.clear();
    engine.startRecording([](const QString&) { ADD_FAILURE() << "a failed start calls no completion"; });
    EXPECT_TRUE(rt.log.contains("[Vocalynx] No microphone available"));
    EXPECT_EQ(engine.state(), RecordingState::idle);
}

TEST_F(AudioCaptureTest, TheEngineJudgesTheRealMicrophoneReady) {
    ConfigStore config{rt.runtime()};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    SampleRateConverterFactory converters;
    WhisperEngine engine{{rt.runtime(), config, sounds, nullptr, nullptr, &capture, &converters}};
    installSpeechModel();
    engine.startRecording([](const QString&) {});
    ASSERT_TRUE(processEventsUntil([&] { return rt.log.contains("[Vocalynx] Recording started"); }))
        << rt.log.lines().join(u'\n').toStdString();

    TonePlayer player;
    player.play(440, 1.0);
    ASSERT_TRUE(processEventsUntil([&] { return engine.micReady(); }, 10000));
    EXPECT_TRUE(rt.log.containsPart("micReady rms="));
    engine.stopRecording();
    EXPECT_TRUE(processEventsUntil([&] { return engine.state() == RecordingState::idle; }, 10000));
}

// The default source is asked of the sound server on a connection of its own, within a time limit:
// a server that is not there, or accepts the connection and never answers, gives no name, and the
// capture side then falls back to Qt's default.
TEST_F(AudioCaptureTest, TheServersDefaultSourceIsAskedWithinATimeLimit) {
    QTemporaryDir dir;
    QLocalServer silent;  // accepts connections and never says a word
    ASSERT_TRUE(silent.listen(dir.path() + QStringLiteral("/silent.sock")));
    const QByteArray realServer = qgetenv("PULSE_SERVER");
    struct Case {
        const char* name;
        QByteArray server;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {"the test server", realServer, QStringLiteral("vocalynx_mic")},
        {"no server at that address", "unix:" + dir.path().toUtf8() + "/none.sock", std::nullopt},
        {"a server that never answers", "unix:" + silent.fullServerName().toUtf8(), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qputenv("PULSE_SERVER", c.server);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(pulseDefaultSourceName(300), c.expected);
        EXPECT_LT(clock.elapsed(), 5000) << "bounded by the time limit, not by the server";
        const auto device = capture.defaultInputDevice();
        ASSERT_TRUE(device.has_value());
        EXPECT_EQ(device->name, kMicName) << "the server's choice, or Qt's default without an answer";
    }
    qputenv("PULSE_SERVER", realServer);
}

// A player that leaves its latency to the server makes the test sink mix up to two seconds ahead, and
// its monitor, which the test microphone records, then hands sound over in blocks that far apart: a
// recording opened in between heard nothing for up to two seconds. The capture keeps that sink at a
// short latency, so a one-second recording made after the session was prepared hears at least 0.85 s.
TEST_F(AudioCaptureTest, AMicrophoneFedByASinkThatMixesFarAheadHearsFromTheStart) {
    TonePlayer player;
    player.play(440, 60.0, 0);
    // Not asserted: a test running beside this one may hold the shared sink at a short latency.
    processEventsUntil([] { return testSinkLatency().configuredMs > 500; }, 5000);
    std::printf("the sink mixes %.0f ms ahead before the session is made\n", testSinkLatency().aheadMs);

    const auto device = capture.defaultInputDevice();
    ASSERT_TRUE(device.has_value());
    QString error;
    auto session = capture.makeSession(*device, error);
    ASSERT_NE(session, nullptr) << error.toStdString();
    // What the sink mixed before is still under way; a dictation follows its prepared session after
    // at least that long. (Without the hold this wait runs out, and the recording starts wherever
    // the sink is between two blocks.)
    processEventsUntil([] { return testSinkLatency().drained(); }, 5000);
    const SinkLatency settled = testSinkLatency();
    std::printf("the sink mixes %.0f ms ahead (%.0f ms asked) once the session is prepared\n", settled.aheadMs,
                settled.configuredMs);

    auto queue = rt.runtime().queues.makeSerialQueue("com.vocalynx.audiodata");
    Collector got;
    QElapsedTimer clock;
    std::atomic<qint64> firstAfterMs{-1};
    session->setSampleBufferHandler(
        [&](const SampleBuffer& b) {
            qint64 none = -1;
            firstAfterMs.compare_exchange_strong(none, clock.elapsed());
            std::lock_guard lock(got.mutex);
            got.buffers.push_back(b);
        },
        queue.get());
    clock.start();
    session->startRunning();
    processEventsUntil([] { return false; }, 1000);
    session->tearDown();

    std::lock_guard lock(got.mutex);
    double seconds = 0;
    for (const auto& b : got.buffers) seconds += double(b.frameCount) / b.sampleRate;
    std::printf("a 1 s recording heard %.3f s, the first buffer %lld ms after the start\n", seconds,
                static_cast<long long>(firstAfterMs.load()));
    EXPECT_GE(seconds, 0.85);
}

}  // namespace vocalynx::test
