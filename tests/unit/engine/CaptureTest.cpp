// The capture side of a dictation, through the engine's entry points: which microphone and session
// a dictation records from, what becomes of the session's events, and what the speech process hears
// of the buffers the session delivers (converted to 16 kHz mono s16), on the virtual clock.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include "EngineTestSupport.h"
#include "FakeCapture.h"
#include "FakeProcesses.h"
#include "FakeSoundOutput.h"
#include "SpeechHome.h"
#include "TestRuntime.h"
#include "WhisperEngineProbe.h"
#include "engine/ColiPid.h"
#include "engine/WhisperEngine.h"
#include "platform/linux/SampleRateConverter.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// The real converter, with a record of every converter built and every buffer handed to one.
class RecordingConverters final : public AudioConverterFactory {
public:
    std::unique_ptr<AudioConverter> makeConverter(const AudioInputFormat& input) override {
        made.push_back(input);
        auto inner = real.makeConverter(input);
        if (!inner) return nullptr;
        return std::make_unique<Recorder>(*this, std::move(inner));
    }
    std::vector<AudioInputFormat> made;
    std::vector<SampleBuffer> converted;
    long long outputBytes = 0;

private:
    struct Recorder final : AudioConverter {
        Recorder(RecordingConverters& recorders, std::unique_ptr<AudioConverter> wrapped)
            : owner(recorders), inner(std::move(wrapped)) {}
        AudioInputFormat inputFormat() const override { return inner->inputFormat(); }
        std::optional<QByteArray> convert(const SampleBuffer& buffer) override {
            owner.converted.push_back(buffer);
            auto out = inner->convert(buffer);
            if (out) owner.outputBytes += out->size();
            return out;
        }
        std::optional<QByteArray> flush() override {
            auto out = inner->flush();
            if (out) owner.outputBytes += out->size();
            return out;
        }
        RecordingConverters& owner;
        std::unique_ptr<AudioConverter> inner;
    };
    SampleRateConverterFactory real;
};

// An engine with the speech program and its model installed, a fake capture system and fake
// processes behind it, and the real converter.
struct Rig {
    Rig() {
        EXPECT_TRUE(installPlaceholderSpeechProgram(rt.paths().home));
        EXPECT_TRUE(installSpeechModel(rt.paths().home));
    }
    ~Rig() { persistentColiPid.store(0); }

    // Starts a dictation and lets its capture session start; the session it records from, or null.
    std::shared_ptr<FakeCaptureSession> start() {
        engine.startRecording([this](const QString& text) { completed << text; });
        rt.time.runUntilIdle();
        return capture.running();
    }
    // Stops the dictation (when one records) and lets it collapse back to idle.
    void finish() {
        engine.stopRecording();
        rt.time.advance(3);
        EXPECT_EQ(engine.state(), RecordingState::idle);
    }
    // Delivers one buffer through the session to the engine and runs the queues.
    void deliver(FakeCaptureSession& session, const SampleBuffer& buffer) {
        ASSERT_TRUE(session.deliver(buffer));
        rt.time.runUntilIdle();
    }
    // Ten-millisecond buffers, `count` of them, with the clock moving on by each buffer.
    void deliverEvery10ms(FakeCaptureSession& session, int count, const SampleBuffer& buffer) {
        for (int i = 0; i < count; ++i) {
            deliver(session, buffer);
            rt.time.advance(0.01);
        }
    }
    // All the current speech process has been sent.
    QByteArray heard() const { return launcher.last() ? launcher.last()->in->all() : QByteArray(); }
    QStringList stateLines() const { return test::stateLines(rt.log); }
    bool logged(const char* line) const { return rt.log.contains(QString::fromUtf8(line)); }

    TestRuntime rt;
    ConfigStore config{rt.runtime()};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    FakeCaptureSystem capture;
    RecordingConverters converters;
    FakeProcessLauncher launcher;
    WhisperEngine engine{{rt.runtime(), config, sounds, nullptr, nullptr, &capture, &converters, &launcher}};
    QStringList completed;
};

class CaptureTest : public ::testing::Test, protected Rig {};

SampleBuffer int16Buffer(std::vector<qint16> samples, int channels = 1, double rate = 48000) {
    SampleBuffer b;
    b.format = SampleFormat::int16;
    b.channelCount = channels;
    b.sampleRate = rate;
    b.frameCount = static_cast<int>(samples.size()) / channels;
    b.bytes = QByteArray(reinterpret_cast<const char*>(samples.data()), static_cast<qsizetype>(samples.size() * 2));
    return b;
}

// The 16-bit samples of speech-format audio.
std::vector<qint16> samplesOf(const QByteArray& pcm) {
    std::vector<qint16> out(static_cast<size_t>(pcm.size() / 2));
    std::memcpy(out.data(), pcm.constData(), out.size() * 2);
    return out;
}

// The lowest and highest sample once the filter has settled (the first 20 ms left out).
std::pair<qint16, qint16> settledRange(const QByteArray& pcm) {
    const std::vector<qint16> samples = samplesOf(pcm);
    if (samples.size() <= 320) return {0, 0};
    const auto [low, high] = std::minmax_element(samples.begin() + 320, samples.end());
    return {*low, *high};
}

const AudioInputDevice kBuiltIn{QStringLiteral("mic-1"), QStringLiteral("Built-in Microphone"), true};
const AudioInputDevice kUsb{QStringLiteral("usb-mic"), QStringLiteral("USB Microphone"), true};
const AudioInputDevice kPods{QStringLiteral("bt-mic"), QStringLiteral("Anna's AIRPODS Pro"), true};
const AudioInputDevice kPodsAway{QStringLiteral("bt-mic"), QStringLiteral("Anna's AirPods Pro"), false};

}  // namespace

// ---------------------------------------------------------------- the microphone and its session

TEST_F(CaptureTest, ADictationRecordsFromConnectedAirPodsElseTheDefault) {
    struct Case {
        std::vector<AudioInputDevice> devices;
        std::optional<AudioInputDevice> defaultDevice;
        QString recordsFrom;  // device id; empty: nothing records
    } cases[] = {
        {{kBuiltIn, kPods}, kBuiltIn, kPods.id},
        {{kBuiltIn, kPodsAway}, kUsb, kUsb.id},
        {{kBuiltIn}, kBuiltIn, kBuiltIn.id},
        {{}, std::nullopt, QString()},
        {{kBuiltIn, kUsb}, kUsb, kUsb.id},
    };
    // One engine for all: each dictation chooses anew, whatever the one before recorded from.
    for (const Case& c : cases) {
        capture.devices = c.devices;
        capture.defaultDevice = c.defaultDevice;
        const auto session = start();
        EXPECT_EQ(session ? session->device.id : QString(), c.recordsFrom) << c.recordsFrom.toStdString();
        finish();
    }
}

TEST_F(CaptureTest, WithoutAUsableMicrophoneNothingRecordsAndTheLogSaysWhy) {
    struct Case {
        std::optional<AudioInputDevice> device;
        bool canMake;
        QString line;
    } cases[] = {
        {std::nullopt, true, QStringLiteral("[Vocalynx] No microphone available")},
        {AudioInputDevice{kUsb.id, kUsb.name, false}, true,
         QStringLiteral("[Vocalynx] Microphone USB Microphone disconnected before input creation")},
        {kUsb, false, QStringLiteral("[Vocalynx] Failed to create capture input: The device cannot be opened")},
    };
    for (const Case& c : cases) {
        capture.devices.clear();
        capture.defaultDevice = c.device;
        capture.canMakeSessions = c.canMake;
        rt.log.clear();
        EXPECT_EQ(start(), nullptr);
        EXPECT_EQ(engine.state(), RecordingState::idle);
        const QStringList lines = rt.log.lines();
        const auto at = lines.indexOf(c.line);
        ASSERT_GE(at, 0) << c.line.toStdString();
        EXPECT_EQ(lines.value(at + 1), QStringLiteral("[Vocalynx] Failed to get microphone input"));
    }
    EXPECT_TRUE(capture.made().empty());
    // Once the microphone can be opened, the next dictation records.
    capture.canMakeSessions = true;
    ASSERT_NE(start(), nullptr);
    EXPECT_EQ(engine.state(), RecordingState::recording);
}

// The warm-up prepares a session so that the first dictation starts at once; a prepared session
// serves for 15 s from when it was built and is handed out once; after each dictation the
// replaced speech process comes with a freshly prepared one.
TEST_F(CaptureTest, APreparedSessionServesOneDictationWithinFifteenSecondsOfItsBuild) {
    engine.warmUpColi();
    EXPECT_TRUE(logged("[Vocalynx] Capture session pre-built"));
    ASSERT_EQ(capture.made().size(), 1u);
    const auto warmedUp = capture.made()[0];
    EXPECT_EQ(warmedUp->startCount, 0) << "the microphone stays off until a dictation";

    // A recovery while it is fresh keeps it, and its age still counts from its build.
    rt.time.advance(10);
    engine.recoverFromStalledState(RecordingState::idle, QStringLiteral("test"));
    rt.time.runUntilIdle();
    EXPECT_EQ(capture.made().size(), 1u);
    rt.time.advance(5);
    EXPECT_EQ(start(), warmedUp) << "exactly 15 s still counts";
    EXPECT_TRUE(stateLines().contains(QStringLiteral("recording pipeline armed preparedSession=reused")));
    finish();

    // The next dictation takes the session prepared after the last one, not the one it handed out.
    ASSERT_EQ(capture.made().size(), 2u);
    const auto prepared = capture.made()[1];
    EXPECT_EQ(start(), prepared);
    engine.stopRecording();
    rt.time.advance(SpeechStream::drainSeconds);
    ASSERT_EQ(capture.made().size(), 3u) << "prepared as the drain ends";
    const auto tooOld = capture.made()[2];

    rt.time.advance(15.1);
    rt.log.clear();
    const auto fresh = start();
    ASSERT_EQ(capture.made().size(), 4u);
    EXPECT_EQ(fresh, capture.made()[3]);
    EXPECT_TRUE(stateLines().contains(QStringLiteral("recording pipeline armed preparedSession=fresh")));
    EXPECT_EQ(tooOld->tearDownCount, 1) << "released on the session queue";
    EXPECT_EQ(tooOld->startCount, 0);
}

TEST_F(CaptureTest, AWarmUpWithoutAMicrophonePreparesNothing) {
    capture.defaultDevice.reset();
    capture.devices.clear();
    engine.warmUpColi();
    EXPECT_TRUE(capture.made().empty());
    const QStringList lines = rt.log.lines();
    const auto at = lines.indexOf(QStringLiteral("[Vocalynx] No microphone available"));
    ASSERT_GE(at, 0);
    EXPECT_EQ(lines.value(at + 1), QStringLiteral("[Vocalynx] Failed to prepare capture session"));
}

// The desktop's default microphone can change between the warm-up and the dictation: a session
// prepared for another device than the one to use now is released, and a fresh one records.
TEST(CapturePreparedDeviceTest, APreparedSessionIsOnlyUsedForTheMicrophoneToUseNow) {
    struct Case {
        const char* change;
        std::vector<AudioInputDevice> devices;
        std::optional<AudioInputDevice> defaultDevice;
        QString recordsFrom;  // empty: nothing records
    } cases[] = {
        {"nothing changed", {kBuiltIn, kUsb}, kBuiltIn, kBuiltIn.id},
        {"the default changed", {kBuiltIn, kUsb}, kUsb, kUsb.id},
        {"AirPods came in", {kBuiltIn, kUsb, kPods}, kBuiltIn, kPods.id},
        {"no microphone is left", {}, std::nullopt, QString()},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.capture.devices = {kBuiltIn, kUsb};
        rig.engine.warmUpColi();
        ASSERT_EQ(rig.capture.made().size(), 1u);
        const auto prepared = rig.capture.made()[0];
        rig.capture.devices = c.devices;
        rig.capture.defaultDevice = c.defaultDevice;
        const auto session = rig.start();
        EXPECT_EQ(session ? session->device.id : QString(), c.recordsFrom) << c.change;
        const bool reused = session == prepared;
        EXPECT_EQ(reused, c.recordsFrom == kBuiltIn.id) << c.change;
        EXPECT_EQ(prepared->tearDownCount, reused ? 0 : 1) << c.change;
    }
}

// ---------------------------------------------------------------- session events

TEST_F(CaptureTest, SessionEventsAreLoggedAndAFailureStopsOnlyARecording) {
    using Kind = CaptureSessionEvent::Kind;
    struct Case {
        CaptureSessionEvent event;
        QString diagnostics, dump, stopLine;  // dump and stopLine empty: none
    } cases[] = {
        {{Kind::runtimeError, QStringLiteral("Device busy"), {}},
         QStringLiteral("captureSession runtimeError error=Device busy"),
         QStringLiteral("AUTO_DUMP trigger=capture-runtime-error error=Device busy"),
         QStringLiteral("[Vocalynx] Microphone went away during recording, stopping: Device busy")},
        {{Kind::runtimeError, QString(), {}},
         QStringLiteral("captureSession runtimeError error=unknown"),
         QStringLiteral("AUTO_DUMP trigger=capture-runtime-error error=unknown"),
         QStringLiteral("[Vocalynx] Microphone went away during recording, stopping: unknown")},
        {{Kind::interrupted, QString(), std::nullopt},
         QStringLiteral("captureSession interrupted details=no-userInfo"),
         QStringLiteral("AUTO_DUMP trigger=capture-interrupted details=no-userInfo"),
         QStringLiteral("[Vocalynx] Microphone went away during recording, stopping: no-userInfo")},
        {{Kind::interrupted, QString(),
          std::vector<std::pair<QString, QString>>{{QStringLiteral("reason"), QStringLiteral("device-removed")},
                                                   {QStringLiteral("device"), QStringLiteral("Mic")}}},
         QStringLiteral("captureSession interrupted details=reason=device-removed, device=Mic"),
         QStringLiteral("AUTO_DUMP trigger=capture-interrupted details=reason=device-removed, device=Mic"),
         QStringLiteral("[Vocalynx] Microphone went away during recording, stopping: reason=device-removed, device=Mic")},
        {{Kind::interruptionEnded, QString(), {}}, QStringLiteral("captureSession interruptionEnded"), QString(), QString()},
    };
    // While it records, and as it stops: the event reaches the main queue after the stop, and is
    // still logged, but a dictation that is transcribing is not stopped again. A failure ends the
    // recording as a stop, never as a cancel: what was recognised is still typed.
    for (const bool stopsMeanwhile : {false, true}) {
        for (const Case& c : cases) {
            const std::string what = c.diagnostics.toStdString() + (stopsMeanwhile ? " (stopping)" : "");
            const auto session = start();
            ASSERT_NE(session, nullptr);
            rt.log.clear();
            ASSERT_TRUE(session->raise(c.event));
            EXPECT_TRUE(rt.log.lines().isEmpty()) << "handled on the main queue";
            if (stopsMeanwhile) engine.stopRecording();
            const RecordingState state = engine.state();
            rt.time.runUntilIdle();
            const QStringList lines = stateLines();
            const auto at = lines.indexOf(c.diagnostics);
            ASSERT_GE(at, 0) << what;
            if (!c.dump.isEmpty()) {
                EXPECT_TRUE(lines.value(at + 1).startsWith(c.dump + QStringLiteral(" state=") + recordingStateName(state)))
                    << lines.value(at + 1).toStdString();
            }
            const bool stops = !stopsMeanwhile && !c.stopLine.isEmpty();
            EXPECT_EQ(rt.log.contains(c.stopLine), stops) << what;
            EXPECT_EQ(rt.log.lines().filter(QStringLiteral("[Vocalynx] Recording stopped. Total PCM sent: ")).size(),
                      stops || stopsMeanwhile ? 1 : 0)
                << what;
            EXPECT_FALSE(logged("[Vocalynx] Recording cancelled (no speech)")) << what;
            EXPECT_EQ(engine.state(), stops || stopsMeanwhile ? RecordingState::transcribing : RecordingState::recording)
                << what;
            finish();
            // A session the engine let go of no longer reaches it.
            EXPECT_FALSE(session->raise({Kind::runtimeError, QStringLiteral("late"), {}})) << what;
        }
    }
}

TEST_F(CaptureTest, LevelMeasureCountsEverySampleAlike) {
    struct Case {
        SampleBuffer buffer;
        float rms;
    } cases[] = {
        {int16Buffer({32767, -32767}), 1.0f},
        {int16Buffer({16384, 0, -16384, 0}, 2), std::sqrt(0.5f * (16384.f / 32767) * (16384.f / 32767))},
        {constantBuffer(0.25f, 480, 48000, 2), 0.25f},
        {constantBuffer(-0.5f, 3), 0.5f},
        {SampleBuffer{}, 0.0f},
        {int16Buffer({}), 0.0f},
    };
    for (const Case& c : cases) EXPECT_NEAR(WhisperEngine::sampleBufferRMS(c.buffer), c.rms, 1e-6);
    // A trailing partial sample is not read.
    SampleBuffer odd = int16Buffer({32767});
    odd.bytes.append('\x7f');
    EXPECT_NEAR(WhisperEngine::sampleBufferRMS(odd), 1.0f, 1e-6);
}

// ---------------------------------------------------------------- readiness

TEST_F(CaptureTest, ALoudFirstBufferMarksTheMicrophoneReadyAndIsConverted) {
    int published = 0;
    QObject::connect(&engine, &WhisperEngine::micReadyChanged, [&](bool ready) { published += ready; });
    const auto session = start();
    ASSERT_NE(session, nullptr);
    EXPECT_FALSE(engine.micReady());
    deliver(*session, constantBuffer(0.1f));
    EXPECT_TRUE(engine.micReady());
    EXPECT_EQ(published, 1);
    EXPECT_EQ(converters.converted.size(), 1u);
    EXPECT_TRUE(stateLines().contains(QStringLiteral("micReady rms=0.10000 elapsed=0.000s")));
    // Readiness is decided once per dictation.
    rt.time.advance(0.01);
    deliver(*session, constantBuffer(0.1f));
    EXPECT_EQ(published, 1);
    EXPECT_EQ(converters.converted.size(), 2u);
    // The next dictation starts unready and decides again.
    finish();
    const auto next = start();
    EXPECT_FALSE(engine.micReady());
    deliver(*next, constantBuffer(0.1f));
    EXPECT_EQ(published, 2);
}

TEST_F(CaptureTest, SilentBuffersWaitForTheTwoSecondFailsafe) {
    const auto session = start();
    ASSERT_NE(session, nullptr);
    const MonoTime first = rt.time.now();
    // 10 ms buffers of digital silence: dropped up to and including exactly 2.0 s.
    while (secondsBetween(first, rt.time.now()) <= 2.0 + 1e-9) {
        deliver(*session, constantBuffer(0.0f));
        EXPECT_FALSE(engine.micReady());
        rt.time.advance(0.01);
    }
    EXPECT_TRUE(converters.converted.empty());
    EXPECT_TRUE(heard().isEmpty());
    deliver(*session, constantBuffer(0.0f));
    EXPECT_TRUE(engine.micReady());
    EXPECT_EQ(converters.converted.size(), 1u) << "the deciding buffer is converted too";
    EXPECT_TRUE(stateLines().contains(QStringLiteral("micReady failsafe elapsed=2.010s")));
}

TEST_F(CaptureTest, ABufferStillOnItsWayWhenTheRecordingStopsIsDropped) {
    const auto session = start();
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(session->deliver(constantBuffer(0.1f)));  // queued on the audio queue
    engine.stopRecording();
    rt.time.runUntilIdle();
    EXPECT_FALSE(engine.micReady());
    EXPECT_TRUE(stateLines().filter(QStringLiteral("micReady")).isEmpty());
    EXPECT_TRUE(converters.converted.empty());
    EXPECT_FALSE(session->deliver(constantBuffer(0.1f))) << "the stopped session has no handler";
}

TEST_F(CaptureTest, DigitalSilenceIsCancelledByTheNoSpeechRule) {
    const auto session = start();
    ASSERT_NE(session, nullptr);
    const MonoTime first = rt.time.now();
    while (!rt.log.containsPart("No speech detected") && secondsBetween(first, rt.time.now()) < 10) {
        deliver(*session, constantBuffer(0.0f));
        rt.time.advance(0.01);
    }
    // Ready by the failsafe at 2.01 s, cancelled 5 s later.
    EXPECT_EQ(rt.log.count(QStringLiteral("[Vocalynx] No speech detected within 5.0s, cancelling recording")), 1);
    EXPECT_NEAR(secondsBetween(first, rt.time.now()), 7.02, 1e-6);
    EXPECT_EQ(engine.state(), RecordingState::collapsing);
    EXPECT_FALSE(session->deliver(constantBuffer(0.0f)));
}

// ---------------------------------------------------------------- conversion

TEST_F(CaptureTest, TheSpeechProcessHearsEachDeviceConvertedToSpeechFormat) {
    const auto session = start();
    ASSERT_NE(session, nullptr);
    // 48 kHz float stereo in 10 ms buffers for one second, then another device at 44.1 kHz mono s16.
    deliverEvery10ms(*session, 100, constantBuffer(0.1f, 480, 48000, 2));
    ASSERT_EQ(converters.made.size(), 1u);
    const QByteArray firstDevice = heard();
    // One second at 16 kHz, less what the filter still holds back (up to about 20 ms).
    EXPECT_NEAR(firstDevice.size(), 32000, 640);
    EXPECT_EQ(firstDevice.size(), converters.outputBytes) << "all that was converted was sent";
    // The channels are averaged, not summed: 0.1 of full scale.
    auto [low, high] = settledRange(firstDevice);
    EXPECT_GE(low, 3277 - 16);
    EXPECT_LE(high, 3277 + 16);

    deliverEvery10ms(*session, 100, int16Buffer(std::vector<qint16>(441, 3000), 1, 44100));
    ASSERT_EQ(converters.made.size(), 2u) << "a new converter for the new format, and only then";
    EXPECT_EQ(converters.made[1], (AudioInputFormat{SampleFormat::int16, 44100, 1}));
    const QByteArray secondDevice = heard().mid(firstDevice.size());
    EXPECT_NEAR(secondDevice.size(), 32000, 640);
    std::tie(low, high) = settledRange(secondDevice);
    EXPECT_GE(low, 3000 - 16);
    EXPECT_LE(high, 3000 + 16);
}

TEST_F(CaptureTest, A480FrameBufferYieldsAbout160Frames) {
    // Once the filter has its history, 10 ms at 48 kHz give 10 ms at 16 kHz; the resampler hands
    // them out in blocks of about 180 frames, none held back longer than the next buffer.
    const auto session = start();
    ASSERT_NE(session, nullptr);
    deliverEvery10ms(*session, 10, constantBuffer(0.1f));
    qsizetype total = 0;
    for (int i = 0; i < 10; ++i) {
        const qsizetype before = heard().size();
        deliverEvery10ms(*session, 1, constantBuffer(0.1f));
        const qsizetype size = heard().size() - before;
        EXPECT_LE(size, 2 * 368);
        total += size;
    }
    EXPECT_NEAR(total, 10 * 320, 368);
}

TEST_F(CaptureTest, ABufferThatCannotBeConvertedIsSkippedAndTheNextConvertedAfresh) {
    const auto session = start();
    ASSERT_NE(session, nullptr);
    deliver(*session, constantBuffer(0.1f));
    deliver(*session, constantBuffer(0.1f, 480, 0, 1));  // no sample rate: no converter for it
    deliver(*session, constantBuffer(0.1f, 0));          // no frames
    const qsizetype before = heard().size();
    deliverEvery10ms(*session, 10, constantBuffer(0.1f));
    EXPECT_EQ(converters.made.size(), 3u);
    EXPECT_GT(heard().size(), before) << "the recording goes on";
    EXPECT_EQ(engine.state(), RecordingState::recording);
}

// What a converter's filter still holds at the end of a dictation belongs to that dictation: a
// stop sends it, a cancel drops it, and the next dictation starts with a fresh converter.
TEST_F(CaptureTest, AStopSendsWhatTheConverterHoldsAndNothingOfItReachesTheNextDictation) {
    auto session = start();
    ASSERT_NE(session, nullptr);
    for (int i = 0; i < 100; ++i) deliver(*session, constantBuffer(0.1f));
    ASSERT_TRUE(session->deliver(constantBuffer(0.1f)));  // still on its way at the stop
    engine.stopRecording();
    rt.time.runUntilIdle();
    // Exactly one second of 16 kHz s16, the held-back tail included; the late buffer is not used.
    const auto served = launcher.launched().front();
    EXPECT_EQ(served->in->all().size(), 32000);
    EXPECT_TRUE(logged("[Vocalynx] Recording stopped. Total PCM sent: 32000 bytes, buffered: 0 bytes"));
    EXPECT_EQ(converters.converted.size(), 100u);
    finish();

    // A loud dictation that is cancelled, then a quiet one.
    session = start();
    deliverEvery10ms(*session, 50, constantBuffer(0.5f));
    WhisperEngine::TestProbe{engine}.requestCancelRecording();
    rt.time.advance(1);
    ASSERT_EQ(engine.state(), RecordingState::idle);
    const size_t convertersBefore = converters.made.size();
    session = start();
    deliverEvery10ms(*session, 50, constantBuffer(0.1f));
    EXPECT_EQ(converters.made.size(), convertersBefore + 1);
    const std::vector<qint16> quiet = samplesOf(heard());
    ASSERT_FALSE(quiet.empty());
    // A fresh filter rings a little as the level comes in (about a tenth above it); what is left of
    // the loud dictation would be at 0.5 of full scale.
    EXPECT_LT(*std::max_element(quiet.begin(), quiet.end()), 5000) << "no sample of the loud dictation";
}

// ---------------------------------------------------------------- threads

// The audio queue runs on a thread of its own and shares the level, transcript and converter
// fields with the main thread and the speech process's reader: here a second thread delivers
// buffers while dictations start, hear transcripts and stop, so that the thread sanitizer sees
// every access.
TEST_F(CaptureTest, BuffersOnTheirOwnThreadWhileDictationsComeAndGo) {
    engine.warmUpColi();
    std::atomic<bool> done{false};
    std::atomic<int> delivered{0};
    std::thread audio([&] {
        for (int i = 0; !done; ++i) {
            if (auto session = capture.running())
                if (session->deliverOnThisThread(constantBuffer(i % 50 < 25 ? 0.1f : 0.0f))) ++delivered;
            std::this_thread::yield();
        }
    });
    for (int round = 0; round < 10; ++round) {
        start();
        for (int step = 0; step < 20; ++step) {
            if (auto process = launcher.last())
                process->out->feed(QStringLiteral("{\"text\":\"今天天气%1\"}\n").arg(step).toUtf8());
            rt.time.advance(0.01);
        }
        finish();
    }
    done = true;
    audio.join();
    rt.time.runUntilIdle();
    EXPECT_GT(delivered.load(), 0);
    EXPECT_EQ(completed.size(), 10);
}
