#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "EngineTestSupport.h"
#include "FakeCapture.h"
#include "FakeSoundOutput.h"
#include "TestRuntime.h"
#include "WhisperEngineProbe.h"
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

class CaptureTest : public ::testing::Test {
protected:
    // Delivers one buffer through the session to the engine and runs the queues.
    void deliver(FakeCaptureSession& session, const SampleBuffer& buffer) {
        ASSERT_TRUE(session.deliver(buffer));
        rt.time.runUntilIdle();
    }
    // A recording with an attached session, as the start road leaves it.
    std::shared_ptr<FakeCaptureSession> recordingSession() {
        auto session = std::make_shared<FakeCaptureSession>(AudioInputDevice{"m", "Mic", true});
        probe.setState(RecordingState::recording, "startRecording");
        probe.attachSampleBufferHandler(*session);
        return session;
    }
    QStringList stateLines() const { return test::stateLines(rt.log); }

    TestRuntime rt;
    ConfigStore config{rt.runtime()};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    FakeCaptureSystem capture;
    RecordingConverters converters;
    WhisperEngine engine{{rt.runtime(), config, sounds, nullptr, nullptr, &capture, &converters}};
    WhisperEngine::TestProbe probe{engine};
};

SampleBuffer int16Buffer(std::vector<qint16> samples, int channels = 1, double rate = 48000) {
    SampleBuffer b;
    b.format = SampleFormat::int16;
    b.channelCount = channels;
    b.sampleRate = rate;
    b.frameCount = static_cast<int>(samples.size()) / channels;
    b.bytes = QByteArray(reinterpret_cast<const char*>(samples.data()), static_cast<qsizetype>(samples.size() * 2));
    return b;
}

}  // namespace

TEST_F(CaptureTest, PreferredMicrophoneIsAConnectedAirPodsElseTheDefault) {
    const AudioInputDevice builtIn{"b", "MacBook Pro Microphone", true};
    const AudioInputDevice pods{"p", "Anna's AIRPODS Pro", true};
    const AudioInputDevice podsAway{"p", "Anna's AirPods Pro", false};
    const AudioInputDevice usb{"u", "USB Mic", true};
    struct Case {
        std::vector<AudioInputDevice> devices;
        std::optional<AudioInputDevice> defaultDevice;
        QString expected;  // id, empty for none
    } cases[] = {
        {{builtIn, pods}, builtIn, "p"},
        {{builtIn, podsAway}, usb, "u"},
        {{builtIn}, builtIn, "b"},
        {{}, std::nullopt, ""},
    };
    for (const Case& c : cases) {
        capture.devices = c.devices;
        capture.defaultDevice = c.defaultDevice;
        const auto chosen = probe.preferredMicrophone();
        EXPECT_EQ(chosen ? chosen->id : QString(), c.expected);
    }
}

TEST_F(CaptureTest, SessionsThatCannotBeBuiltSayWhy) {
    struct Case {
        std::optional<AudioInputDevice> device;
        bool canMake;
        QString line;
    } cases[] = {
        {std::nullopt, true, "[Vocalynx] No microphone available"},
        {AudioInputDevice{"m", "USB Mic", false}, true, "[Vocalynx] Microphone USB Mic disconnected before input creation"},
        {AudioInputDevice{"m", "USB Mic", true}, false,
         "[Vocalynx] Failed to create capture input: The device cannot be opened"},
    };
    for (const Case& c : cases) {
        capture.devices.clear();
        capture.defaultDevice = c.device;
        capture.canMakeSessions = c.canMake;
        rt.log.clear();
        EXPECT_EQ(probe.makeCaptureSession(), nullptr);
        EXPECT_EQ(rt.log.lines(), QStringList{c.line});
    }
    capture.defaultDevice = AudioInputDevice{"m", "USB Mic", true};
    capture.canMakeSessions = true;
    EXPECT_NE(probe.makeCaptureSession(), nullptr);
    EXPECT_FALSE(capture.made().back()->isRunning()) << "a new session is not started";
}

TEST_F(CaptureTest, APreparedSessionServesFifteenSeconds) {
    probe.prepareCaptureSession();
    EXPECT_TRUE(rt.log.contains("[Vocalynx] Capture session pre-built"));
    ASSERT_EQ(capture.made().size(), 1u);
    rt.time.advance(10);
    probe.prepareCaptureSession();  // still fresh: kept
    EXPECT_EQ(capture.made().size(), 1u);
    rt.time.advance(5);
    EXPECT_EQ(probe.takePreparedSession(), capture.made()[0]) << "exactly 15 s still counts";
    EXPECT_EQ(probe.takePreparedSession(), nullptr) << "handed over once";

    probe.prepareCaptureSession();
    rt.time.advance(15.1);
    EXPECT_EQ(probe.takePreparedSession(), nullptr);
    // Too old: the next preparation replaces it and releases the old one on the session queue.
    probe.prepareCaptureSession();
    rt.time.runUntilIdle();
    ASSERT_EQ(capture.made().size(), 3u);
    EXPECT_EQ(capture.made()[1]->tearDownCount, 1);
    EXPECT_EQ(probe.takePreparedSession(), capture.made()[2]);

    probe.prepareCaptureSession();
    probe.discardPreparedSession();
    rt.time.runUntilIdle();
    EXPECT_EQ(capture.made()[3]->tearDownCount, 1);
    EXPECT_EQ(probe.takePreparedSession(), nullptr);

    capture.defaultDevice.reset();
    capture.devices.clear();
    rt.log.clear();
    probe.prepareCaptureSession();
    EXPECT_EQ(rt.log.lines(),
              (QStringList{"[Vocalynx] No microphone available", "[Vocalynx] Failed to prepare capture session"}));
}

// The desktop's default microphone can change between dictations: a prepared session for another
// device than the one to use now is not handed out; once the choice is back, it is again.
TEST_F(CaptureTest, APreparedSessionIsOnlyReusedForTheMicrophoneToUseNow) {
    const AudioInputDevice builtIn = *capture.defaultDevice;
    const AudioInputDevice usb{QStringLiteral("usb-mic"), QStringLiteral("USB Microphone"), true};
    const AudioInputDevice airPods{QStringLiteral("bt-mic"), QStringLiteral("Jo's AirPods"), true};
    capture.devices = {builtIn, usb};
    probe.prepareCaptureSession();
    ASSERT_EQ(capture.made().size(), 1u);
    EXPECT_EQ(capture.made()[0]->device.id, builtIn.id);

    capture.defaultDevice = usb;
    EXPECT_EQ(probe.takePreparedSession(), nullptr) << "built for the old default";
    capture.defaultDevice.reset();
    EXPECT_EQ(probe.takePreparedSession(), nullptr) << "no microphone at all";
    capture.defaultDevice = builtIn;
    capture.devices.push_back(airPods);
    EXPECT_EQ(probe.takePreparedSession(), nullptr) << "AirPods came in after it was built";
    capture.devices.pop_back();
    EXPECT_EQ(probe.takePreparedSession(), capture.made()[0]);
}

TEST_F(CaptureTest, SessionEventsAreLoggedAndCancelOnlyARecording) {
    auto session = std::make_shared<FakeCaptureSession>(AudioInputDevice{"m", "Mic", true});
    probe.installCaptureSessionObservers(session);
    using Kind = CaptureSessionEvent::Kind;
    struct Case {
        CaptureSessionEvent event;
        QString diagnostics, dump, cancelLine;
    } cases[] = {
        {{Kind::runtimeError, "Device busy", {}},
         "captureSession runtimeError error=Device busy",
         "AUTO_DUMP trigger=capture-runtime-error error=Device busy",
         "[Vocalynx] Capture session runtime error during recording, cancelling..."},
        {{Kind::runtimeError, "", {}},
         "captureSession runtimeError error=unknown",
         "AUTO_DUMP trigger=capture-runtime-error error=unknown",
         "[Vocalynx] Capture session runtime error during recording, cancelling..."},
        {{Kind::interrupted, "", std::nullopt},
         "captureSession interrupted details=no-userInfo",
         "AUTO_DUMP trigger=capture-interrupted details=no-userInfo",
         "[Vocalynx] Capture session interrupted during recording, cancelling..."},
        {{Kind::interrupted, "", std::vector<std::pair<QString, QString>>{{"reason", "device-removed"}, {"device", "Mic"}}},
         "captureSession interrupted details=reason=device-removed, device=Mic",
         "AUTO_DUMP trigger=capture-interrupted details=reason=device-removed, device=Mic",
         "[Vocalynx] Capture session interrupted during recording, cancelling..."},
        {{Kind::interruptionEnded, "", {}}, "captureSession interruptionEnded", "", ""},
    };
    for (RecordingState state : {RecordingState::idle, RecordingState::recording}) {
        for (const Case& c : cases) {
            // A cancel of the case before moved the state on and removed the observers.
            probe.setState(state, "test");
            probe.installCaptureSessionObservers(session);
            rt.log.clear();
            ASSERT_TRUE(session->raise(c.event));
            EXPECT_TRUE(rt.log.lines().isEmpty()) << "handled on the main queue";
            rt.time.runUntilIdle();
            const QStringList lines = stateLines();
            ASSERT_FALSE(lines.isEmpty());
            EXPECT_EQ(lines[0], c.diagnostics);
            if (!c.dump.isEmpty()) {
                ASSERT_GE(lines.size(), 2);  // the cancel itself may follow
                EXPECT_TRUE(lines[1].startsWith(c.dump + " state=" + recordingStateName(state))) << lines[1].toStdString();
            }
            EXPECT_EQ(rt.log.contains(c.cancelLine), state == RecordingState::recording && !c.cancelLine.isEmpty())
                << c.diagnostics.toStdString();
        }
    }
    probe.removeCaptureSessionObservers();
    EXPECT_FALSE(session->raise({Kind::interruptionEnded, "", {}}));
}

TEST_F(CaptureTest, InstallingObserversForANewSessionDetachesTheOldOne) {
    auto first = std::make_shared<FakeCaptureSession>(AudioInputDevice{"a", "A", true});
    auto second = std::make_shared<FakeCaptureSession>(AudioInputDevice{"b", "B", true});
    probe.installCaptureSessionObservers(first);
    probe.installCaptureSessionObservers(second);
    EXPECT_FALSE(first->raise({CaptureSessionEvent::Kind::interruptionEnded, "", {}}));
    EXPECT_TRUE(second->raise({CaptureSessionEvent::Kind::interruptionEnded, "", {}}));
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

TEST_F(CaptureTest, ALoudFirstBufferMarksTheMicrophoneReadyAndIsConverted) {
    auto session = recordingSession();
    int published = 0;
    QObject::connect(&engine, &WhisperEngine::micReadyChanged, [&](bool ready) { published += ready; });
    deliver(*session, constantBuffer(0.1f));
    EXPECT_TRUE(engine.micReady());
    EXPECT_EQ(published, 1);
    EXPECT_EQ(converters.converted.size(), 1u);
    EXPECT_TRUE(stateLines().contains("micReady rms=0.10000 elapsed=0.000s"));
    // Readiness is decided once per recording.
    rt.time.advance(0.01);
    deliver(*session, constantBuffer(0.1f));
    EXPECT_EQ(published, 1);
    EXPECT_EQ(converters.converted.size(), 2u);
}

TEST_F(CaptureTest, SilentBuffersWaitForTheTwoSecondFailsafe) {
    auto session = recordingSession();
    const MonoTime first = rt.time.now();
    // 10 ms buffers of digital silence: dropped up to and including exactly 2.0 s.
    while (secondsBetween(first, rt.time.now()) <= 2.0 + 1e-9) {
        deliver(*session, constantBuffer(0.0f));
        EXPECT_FALSE(engine.micReady());
        rt.time.advance(0.01);
    }
    EXPECT_TRUE(converters.converted.empty());
    deliver(*session, constantBuffer(0.0f));
    EXPECT_TRUE(engine.micReady());
    EXPECT_EQ(converters.converted.size(), 1u) << "the deciding buffer is converted too";
    EXPECT_TRUE(stateLines().contains("micReady failsafe elapsed=2.010s"));
}

TEST_F(CaptureTest, BuffersOutsideARunningRecordingAreDropped) {
    auto session = recordingSession();
    probe.setStopping(true);
    deliver(*session, constantBuffer(0.1f));
    probe.setStopping(false);
    probe.setState(RecordingState::transcribing, "stopRecording");
    deliver(*session, constantBuffer(0.1f));
    EXPECT_FALSE(probe.micReadyAt().has_value());
    EXPECT_TRUE(converters.converted.empty());
}

TEST_F(CaptureTest, ConversionKeepsItsConverterUntilTheFormatChanges) {
    auto session = recordingSession();
    // 48 kHz float stereo in 10 ms buffers for one second, then another device at 44.1 kHz mono s16.
    for (int i = 0; i < 100; ++i) {
        deliver(*session, constantBuffer(0.1f, 480, 48000, 2));
        rt.time.advance(0.01);
    }
    ASSERT_EQ(converters.made.size(), 1u);
    const long long firstDeviceBytes = converters.outputBytes;
    // One second at 16 kHz, less what the filter still holds back (up to about 20 ms).
    EXPECT_NEAR(firstDeviceBytes, 32000, 640);

    std::vector<qint16> samples(441, 3000);
    for (int i = 0; i < 100; ++i) {
        deliver(*session, int16Buffer(samples, 1, 44100));
        rt.time.advance(0.01);
    }
    ASSERT_EQ(converters.made.size(), 2u);
    EXPECT_EQ(converters.made[1], (AudioInputFormat{SampleFormat::int16, 44100, 1}));
    EXPECT_NEAR(converters.outputBytes - firstDeviceBytes, 32000, 640);
}

TEST_F(CaptureTest, ABufferThatCannotBeConvertedIsSkippedAndTheNextTriedAfresh) {
    auto session = recordingSession();
    deliver(*session, constantBuffer(0.1f));
    SampleBuffer broken = constantBuffer(0.1f, 480, 0, 1);  // no sample rate
    EXPECT_EQ(probe.convertSampleBuffer(broken), std::nullopt);
    SampleBuffer empty = constantBuffer(0.1f, 0);
    EXPECT_EQ(probe.convertSampleBuffer(empty), std::nullopt);
    // The fresh converter gives its first output once it holds a block of input.
    QByteArray next;
    for (int i = 0; i < 2; ++i)
        if (auto out = probe.convertSampleBuffer(constantBuffer(0.1f, 480))) next += *out;
    EXPECT_GT(next.size(), 0);
}

TEST_F(CaptureTest, A480FrameBufferYieldsAbout160Frames) {
    // Once the filter has its history, 10 ms at 48 kHz give 10 ms at 16 kHz; the resampler hands
    // them out in blocks of about 180 frames, none held back longer than the next buffer.
    auto session = recordingSession();
    for (int i = 0; i < 10; ++i) probe.convertSampleBuffer(constantBuffer(0.1f, 480, 48000, 1));
    qsizetype total = 0;
    for (int i = 0; i < 10; ++i) {
        const qsizetype size = probe.convertSampleBuffer(constantBuffer(0.1f, 480, 48000, 1)).value_or(QByteArray()).size();
        EXPECT_LE(size, 2 * 368);
        total += size;
    }
    EXPECT_NEAR(total, 10 * 320, 368);
}

TEST_F(CaptureTest, DigitalSilenceIsCancelledByTheNoSpeechRule) {
    auto session = recordingSession();
    const MonoTime first = rt.time.now();
    while (!rt.log.containsPart("No speech detected") && secondsBetween(first, rt.time.now()) < 10) {
        deliver(*session, constantBuffer(0.0f));
        rt.time.advance(0.01);
    }
    // Ready by the failsafe at 2.01 s, cancelled 5 s later.
    EXPECT_EQ(rt.log.count("[Vocalynx] No speech detected within 5.0s, cancelling recording"), 1);
    EXPECT_NEAR(secondsBetween(first, rt.time.now()), 7.02, 1e-6);
}

TEST_F(CaptureTest, StartAndStopForgetTheConverterAfterBuffersInHand) {
    auto session = recordingSession();
    deliver(*session, constantBuffer(0.1f));
    ASSERT_EQ(converters.made.size(), 1u);
    ASSERT_TRUE(session->deliver(constantBuffer(0.1f)));  // still queued on the audio queue
    probe.resetAudioConverter();
    rt.time.runUntilIdle();
    EXPECT_EQ(converters.converted.size(), 2u) << "the buffer in hand used the old converter";
    deliver(*session, constantBuffer(0.1f));
    EXPECT_EQ(converters.made.size(), 2u);
}

TEST_F(CaptureTest, StopSendsWhatTheConverterStillHolds) {
    // One second at 48 kHz; the resampler keeps its last milliseconds until the stream ends.
    auto session = recordingSession();
    for (int i = 0; i < 100; ++i) deliver(*session, constantBuffer(0.1f));
    engine.stopRecording();
    // A buffer still on its way when the stop came is not converted after the flush.
    probe.handleSampleBuffer(constantBuffer(0.1f));
    rt.time.runUntilIdle();
    // Exactly one second of 16 kHz s16 came out of the converter, the held-back tail included.
    EXPECT_EQ(converters.outputBytes, 32000);
    EXPECT_EQ(converters.converted.size(), 100u);
}

// The audio queue and the main thread share the level and transcript fields and the prepared
// session; run them on two real threads so that the thread sanitizer sees every access.
TEST_F(CaptureTest, AudioQueueAndMainThreadShareTheirFieldsSafely) {
    auto session = recordingSession();
    std::atomic<bool> done{false};
    std::thread audio([&] {
        for (int i = 0; i < 2000; ++i) {
            probe.handleSampleBuffer(constantBuffer(i % 50 < 25 ? 0.1f : 0.0f));
            probe.evaluateAudioLevel(constantBuffer(0.05f), rt.time.now() + seconds(i * 0.01));
        }
        done = true;
    });
    int rounds = 0;
    while (!done || rounds < 10) {
        probe.setPreviewText(rounds % 2 ? QStringLiteral("今天天气") : QString());
        probe.noteSpeechActivity(rt.time.now());
        probe.updateNoiseFloor(0.002f);
        probe.prepareCaptureSession();
        probe.discardPreparedSession();
        probe.installCaptureSessionObservers(session);
        probe.removeCaptureSessionObservers();
        // As a stop does, while buffers are converted; not every round, since a flush starts the
        // filter afresh and the audio thread would spend the test waiting for it.
        if (rounds % 20 == 0) probe.flushAudioConverter();
        ++rounds;
    }
    audio.join();
    rt.time.runUntilIdle();
    EXPECT_TRUE(engine.micReady());
}
