// The microphone road end to end: the private sound server's test microphone, Qt Multimedia capture,
// the engine's readiness, conversion and level rules, and the stand-in speech program, which
// reports the dominant frequency of the audio it receives.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QAudioDevice>
#include <QAudioSource>
#include <QMediaDevices>
#include <QProcess>
#include <QRegularExpression>
#include <atomic>
#include <mutex>
#include <optional>

#include "FakeSoundOutput.h"
#include "LiveRuntime.h"
#include "SpeechHome.h"
#include "TestSoundServer.h"
#include "ToneAnalysis.h"
#include "core/ConfigStore.h"
#include "core/SoundFeedback.h"
#include "engine/WhisperEngine.h"
#include "platform/linux/PosixProcessLauncher.h"
#include "platform/linux/QtAudioCapture.h"
#include "platform/linux/SampleRateConverter.h"

namespace vocalynx::test {
namespace {

// Unloads the remap-source modules whose arguments hold the text.
void unloadSource(const char* sourceName) {
    const QString argument = QStringLiteral("source_name=%1 ").arg(QString::fromUtf8(sourceName));
    for (const QString& line : pactl({"list", "short", "modules"}).split(u'\n'))
        if (line.contains(QStringLiteral("module-remap-source")) && line.contains(argument))
            pactl({QStringLiteral("unload-module"), line.section(u'\t', 0, 0)});
}

// The real capture, which keeps the sample handler the engine gives each session it makes, so
// that a test can hand the recording's buffers over to another session, as a change of device in
// the middle of a recording does.
class RoutableCapture final : public AudioCaptureSystem {
public:
    explicit RoutableCapture(AudioCaptureSystem& real) : real_(real) {}
    std::vector<AudioInputDevice> inputDevices() override { return real_.inputDevices(); }
    std::optional<AudioInputDevice> defaultInputDevice() override { return real_.defaultInputDevice(); }
    std::shared_ptr<CaptureSession> makeSession(const AudioInputDevice& device, QString& error) override {
        std::shared_ptr<CaptureSession> inner = real_.makeSession(device, error);
        if (!inner) return nullptr;
        return std::make_shared<Session>(*this, std::move(inner));
    }
    // Detaches the newest handler from its session and attaches it to the other one.
    void routeTo(CaptureSession& other) {
        std::lock_guard lock(mutex_);
        if (auto from = lastSession_.lock()) from->setSampleBufferHandler(nullptr, nullptr);
        other.setSampleBufferHandler(lastHandler_, lastQueue_);
    }

private:
    struct Session final : CaptureSession {
        Session(RoutableCapture& capture, std::shared_ptr<CaptureSession> wrapped)
            : owner(capture), inner(std::move(wrapped)) {}
        void startRunning() override { inner->startRunning(); }
        bool isRunning() const override { return inner->isRunning(); }
        void stopRunning() override { inner->stopRunning(); }
        void tearDown() override { inner->tearDown(); }
        void setSampleBufferHandler(std::function<void(const SampleBuffer&)> handler, Executor* queue) override {
            if (handler) {
                std::lock_guard lock(owner.mutex_);
                owner.lastHandler_ = handler;
                owner.lastQueue_ = queue;
                owner.lastSession_ = inner;
            }
            inner->setSampleBufferHandler(std::move(handler), queue);
        }
        void setEventHandler(std::function<void(const CaptureSessionEvent&)> handler) override {
            inner->setEventHandler(std::move(handler));
        }
        RoutableCapture& owner;
        std::shared_ptr<CaptureSession> inner;
    };

    AudioCaptureSystem& real_;
    std::mutex mutex_;
    std::function<void(const SampleBuffer&)> lastHandler_;
    Executor* lastQueue_ = nullptr;
    std::weak_ptr<CaptureSession> lastSession_;
};

bool listed(QtAudioCapture& capture, const QString& name) {
    for (const auto& d : capture.inputDevices())
        if (d.name == name) return true;
    return false;
}
bool listed(QtAudioCapture& capture, const char* name) { return listed(capture, QString::fromUtf8(name)); }

class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value) : name_(name) { qputenv(name, value); }
    ~ScopedEnv() { qunsetenv(name_); }

private:
    const char* name_;
};

// Plays a tone (or digital silence, at frequency 0) into the null sink as 48 kHz stereo float, at a
// short latency, or at the server's default one (about two seconds, as a music player asks for).
class TonePlayer {
public:
    void play(double frequency, double secondsValue, const QString& sink = QStringLiteral("vocalynx_sink"),
              bool shortLatency = true) {
        QStringList args{QStringLiteral("--playback"), QStringLiteral("--device=") + sink,
                         QStringLiteral("--format=float32le"), QStringLiteral("--rate=48000"),
                         QStringLiteral("--channels=2"), QStringLiteral("--raw")};
        if (shortLatency) args << QStringLiteral("--latency-msec=50");
        process_.start(QStringLiteral("pacat"), args);
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
    ForkedProcess process_;
};

class CaptureEndToEnd : public ::testing::Test {
protected:
    CaptureEndToEnd() {
        guiApplication();
        const QString home = rt.runtime().paths.home;
        prepareStandInHome(home);
    }
    ~CaptureEndToEnd() override {
        if (engine) {
            engine->shutdown();
            engine.reset();
        }
    }

    void startEngine() {
        engine = std::make_unique<WhisperEngine>(WhisperEngine::Dependencies{
            rt.runtime(), config, sounds, nullptr, nullptr, &routed, &converters, &launcher});
        engine->warmUpColi();
        ASSERT_TRUE(processEventsUntil([&] { return standInLog().filter(QStringLiteral("start pid=")).size() == 1; }))
            << rt.log.lines().join(u'\n').toStdString();
    }

    QStringList standInLog() const {
        QFile f(logPath);
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    // The frequencies the stand-in reported, one per half second of audio it received.
    std::vector<int> reportedFrequencies() const {
        static const QRegularExpression re(QStringLiteral("\"frequency\":(\\d+)"));
        std::vector<int> out;
        for (const QString& line : standInLog())
            if (auto m = re.match(line); line.startsWith(QStringLiteral("line ")) && m.hasMatch())
                out.push_back(m.captured(1).toInt());
        return out;
    }
    // One dictation as the user makes it: a start, the given time with the microphone open, a stop.
    // Returns what the stop line reports as sent, in bytes, and waits until the engine is idle again.
    struct Dictation {
        long long bytesSent = -1;
        double firstAudioAfter = -1;  // seconds from the start to the microphone being judged ready
    };
    Dictation dictate(double secondsOpen) {
        Dictation result;
        rt.log.clear();
        QElapsedTimer clock;
        clock.start();
        engine->startRecording([](const QString&) {});
        QDeadlineTimer open(static_cast<qint64>(secondsOpen * 1000));
        while (!open.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (result.firstAudioAfter < 0 && rt.log.containsPart("micReady"))
                result.firstAudioAfter = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        }
        engine->stopRecording();
        static const QRegularExpression sent(QStringLiteral("Total PCM sent: (\\d+) bytes"));
        for (const QString& line : rt.log.lines())
            if (auto m = sent.match(line); m.hasMatch()) result.bytesSent = m.captured(1).toLongLong();
        EXPECT_TRUE(processEventsUntil([&] { return engine->state() == RecordingState::idle; }, 10000))
            << rt.log.lines().join(u'\n').toStdString();
        return result;
    }

    // Waits until the microphone hears sound. A null sink that was idle renders up to two seconds of
    // silence ahead, so a tone that just started reaches its monitor only that much later.
    bool waitUntilHeard(const char* deviceName) {
        std::optional<AudioInputDevice> device;
        for (const auto& d : capture.inputDevices())
            if (d.name == QString::fromUtf8(deviceName)) device = d;
        if (!device) return false;
        QString error;
        auto session = capture.makeSession(*device, error);
        if (!session) return false;
        std::atomic<bool> heard{false};
        session->setSampleBufferHandler(
            [&heard](const SampleBuffer& b) {
                if (WhisperEngine::sampleBufferRMS(b) > 0.01f) heard = true;
            },
            nullptr);
        session->startRunning();
        const bool ok = processEventsUntil([&] { return heard.load(); }, 10000);
        session->tearDown();
        return ok;
    }

    static int windowsNear(const std::vector<int>& frequencies, int target) {
        int n = 0;
        for (int f : frequencies) n += std::abs(f - target) <= target / 50;  // within 2 %
        return n;
    }

    LiveRuntime rt;
    QString logPath = rt.root() + QStringLiteral("/standin.log");
    ScopedEnv logVar{"COLI_STANDIN_LOG", logPath.toUtf8()};
    ScopedEnv frequencyVar{"COLI_STANDIN_FREQUENCY", "1"};
    ConfigStore config{rt.runtime()};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    QtAudioCapture capture;
    RoutableCapture routed{capture};
    SampleRateConverterFactory converters;
    PosixProcessLauncher launcher;
    std::unique_ptr<WhisperEngine> engine;
};

}  // namespace

TEST_F(CaptureEndToEnd, AToneAtTheMicrophoneReachesTheSpeechProgramAsSixteenKilohertzMono) {
    startEngine();
    engine->startRecording([](const QString&) {});
    ASSERT_TRUE(processEventsUntil([&] { return rt.log.contains("[Vocalynx] Recording started"); }))
        << rt.log.lines().join(u'\n').toStdString();

    // 48 kHz stereo float from the sound server, 16 kHz mono s16 at the stand-in: the pitch and the
    // length of the tone survive (a wrong rate would move the pitch, a wrong channel count would
    // stretch or squeeze both).
    TonePlayer player;
    player.play(1000, 3.0);
    ASSERT_TRUE(processEventsUntil([&] { return windowsNear(reportedFrequencies(), 1000) >= 5; }, 15000))
        << testing::PrintToString(reportedFrequencies()) << "\n"
        << rt.log.lines().join(u'\n').toStdString() << "\n"
        << standInLog().join(u'\n').toStdString();
    EXPECT_TRUE(engine->micReady());
    ASSERT_TRUE(processEventsUntil([&] { return player.finished(); }, 10000));
    // A little of the silence after the tone, so that its last window is complete.
    processEventsUntil([&] { return reportedFrequencies().size() >= static_cast<size_t>(windowsNear(reportedFrequencies(), 1000) + 2); }, 3000);
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
        if (d.name == QStringLiteral("VocalynxTestMicB")) other = d;
    ASSERT_TRUE(other.has_value());
    QString error;
    auto second = capture.makeSession(*other, error);
    ASSERT_NE(second, nullptr) << error.toStdString();
    routed.routeTo(*second);
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
        << rt.log.lines().join(u'\n').toStdString();
    ASSERT_TRUE(processEventsUntil(
        [&] { return rt.log.contains("[Vocalynx] No speech detected within 5.0s, cancelling recording"); }, 10000));
    ASSERT_TRUE(processEventsUntil([&] { return engine->state() == RecordingState::idle; }, 5000));
    EXPECT_TRUE(rt.log.contains("[Vocalynx] Recording cancelled (no speech)"));
    EXPECT_FALSE(rt.log.containsPart("Mic startup watchdog fired")) << "readiness cancelled the watchdog";
}

// The microphone, or the whole sound server, goes away in the middle of a dictation after words were
// recognised: the dictation ends as a stop, what was recognised is typed, and the log says that the
// microphone went away. While the microphone is gone, a start fails at once.
TEST_F(CaptureEndToEnd, AMicrophoneLostMidDictationEndsItAsAStopThatTypesTheWords) {
    qunsetenv("COLI_STANDIN_FREQUENCY");
    const QString scriptPath = rt.root() + QStringLiteral("/script.txt");
    {
        QFile script(scriptPath);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("x0001y\n");
    }
    ScopedEnv scriptVar{"COLI_STANDIN_SCRIPT", scriptPath.toUtf8()};
    struct Loss {
        const char* name;
        bool wholeServer;  // else the microphone's source alone is unloaded
    };
    const Loss losses[] = {{"the microphone's source unloaded", false}, {"the sound server killed", true}};
    startEngine();
    for (const Loss& loss : losses) {
        SCOPED_TRACE(loss.name);
        std::optional<TonePlayer> player(std::in_place);
        player->play(440, 60.0);
        rt.log.clear();
        std::optional<QString> typed;
        engine->startRecording([&typed](const QString& text) { typed = text; });
        ASSERT_TRUE(processEventsUntil([&] { return engine->previewText().contains(QStringLiteral("x0001y")); }, 15000))
            << rt.log.lines().join(u'\n').toStdString();

        // Whatever fails below, the microphone and the server are back for what follows.
        struct Restore {
            bool wholeServer;
            QtAudioCapture& capture;
            ~Restore() {
                if (wholeServer) {
                    if (!soundServerAnswers()) startSoundServer();
                } else if (!listed(capture, "VocalynxTestMic")) {
                    const QStringList args =
                        QString::fromLocal8Bit(qgetenv("VOCALYNX_TEST_MIC_ARGS")).split(u' ', Qt::SkipEmptyParts);
                    pactl(QStringList{QStringLiteral("load-module"), QStringLiteral("module-remap-source")} + args);
                    pactl({"set-default-source", "vocalynx_mic"});
                }
                processEventsUntil([&] { return listed(capture, "VocalynxTestMic"); }, 30000);
            }
        } restore{loss.wholeServer, capture};
        if (loss.wholeServer) {
            ASSERT_TRUE(killSoundServer());
        } else {
            unloadSource("vocalynx_mic");
        }
        ASSERT_TRUE(processEventsUntil([&] { return engine->state() == RecordingState::idle; }, 15000))
            << rt.log.lines().join(u'\n').toStdString();
        ASSERT_TRUE(typed.has_value()) << rt.log.lines().join(u'\n').toStdString();
        EXPECT_EQ(typed->toStdString(), "x0001y");
        EXPECT_TRUE(rt.log.containsPart("[Vocalynx] Microphone went away during recording, stopping: "))
            << rt.log.lines().join(u'\n').toStdString();
        EXPECT_TRUE(rt.log.containsPart("state recording -> transcribing reason=stopRecording"));
        EXPECT_FALSE(rt.log.containsPart("Cancelling recording"));
        EXPECT_FALSE(rt.log.containsPart("Recording cancelled"));

        if (!loss.wholeServer) {
            // No microphone at all: the start fails at once and leaves the engine idle.
            ASSERT_TRUE(processEventsUntil([&] { return !listed(capture, "VocalynxTestMic"); }));
            rt.log.clear();
            engine->startRecording([](const QString&) { ADD_FAILURE() << "a failed start calls no completion"; });
            EXPECT_TRUE(rt.log.contains("[Vocalynx] No microphone available"));
            EXPECT_TRUE(rt.log.contains("[Vocalynx] Failed to get microphone input"));
            EXPECT_EQ(engine->state(), RecordingState::idle);
            EXPECT_TRUE(rt.log.containsPart("state recording -> idle reason=startRecordingFailed"));
        }
        player.reset();  // its server may be gone
    }
}

// Whether Qt Multimedia records from the test microphone again: a plain audio source on it starts.
bool qtMultimediaRecords() {
    for (const QAudioDevice& device : QMediaDevices::audioInputs()) {
        if (device.description() != QStringLiteral("VocalynxTestMic")) continue;
        QAudioSource source(device, device.preferredFormat());
        const QIODevice* stream = source.start();
        const bool running = stream && source.state() != QAudio::StoppedState && source.error() == QAudio::NoError;
        source.stop();
        return running;
    }
    return false;
}

// After the sound server restarts (a crash, an update of the desktop's audio service), a dictation
// started before Qt Multimedia is connected again records once it is, and one started a second
// after it is connected again hears the microphone from its start, and so do the next ones, while a music player plays into the sink at the server's default
// latency (the sink then mixes seconds ahead unless it is held at a short latency again).
TEST_F(CaptureEndToEnd, DictationsSoonAfterTheSoundServerRestartsHearTheWholeOfIt) {
    constexpr long long kMinimumBytes = 27200;  // 0.85 s of 16 kHz 16-bit mono
    struct Restore {
        ~Restore() {
            if (!soundServerAnswers()) startSoundServer();
        }
    } restore;
    {
        TonePlayer player;
        player.play(440, 30.0);
        ASSERT_TRUE(waitUntilHeard("VocalynxTestMic"));
        startEngine();
        EXPECT_GE(dictate(1.0).bytesSent, kMinimumBytes) << "before the restart";
        ASSERT_TRUE(killSoundServer());
    }
    ASSERT_TRUE(startSoundServer());
    TonePlayer player;
    player.play(440, 60.0, QStringLiteral("vocalynx_sink"), false);
    // The sink is held at a short latency again as soon as the server is back, before any
    // recording asks for it.
    EXPECT_TRUE(processEventsUntil([] { return latencyHoldsOn(QStringLiteral("vocalynx_sink")) == 1; }, 5000));
    // A press before Qt Multimedia has its connection back (it tries again every 3 s): the
    // dictation waits for it and records from then on.
    const bool qtBackEarly = qtMultimediaRecords();
    const Dictation early = dictate(4.0);
    std::printf("a dictation started %s Qt Multimedia was back: %lld bytes\n", qtBackEarly ? "after" : "before",
                early.bytesSent);
    EXPECT_FALSE(rt.log.contains("[Vocalynx] Capture session failed to start"));
    EXPECT_GT(early.bytesSent, 0) << rt.log.lines().join(u'\n').toStdString();
    ASSERT_TRUE(processEventsUntil(qtMultimediaRecords, 15000));
    QElapsedTimer sinceBack;
    sinceBack.start();
    processEventsUntil([&] { return sinceBack.elapsed() >= 1000; }, 2000);
    for (int n = 1; n <= 3; ++n) {
        const Dictation d = dictate(1.0);
        std::printf("dictation %d after the restart: %lld bytes, microphone ready %.3f s after the start\n", n,
                    d.bytesSent, d.firstAudioAfter);
        EXPECT_GE(d.bytesSent, kMinimumBytes) << "dictation " << n << "\n" << rt.log.lines().join(u'\n').toStdString();
    }
}

namespace {
// Loads a module into the sound server and unloads it at the end of the scope; the default source
// is set back to the test microphone then.
class LoadedModule {
public:
    explicit LoadedModule(const QStringList& args) {
        index_ = pactl(QStringList{QStringLiteral("load-module")} + args);
    }
    ~LoadedModule() {
        pactl({"set-default-source", "vocalynx_mic"});
        if (!index_.isEmpty()) pactl({QStringLiteral("unload-module"), index_});
    }
    bool loaded() const { return !index_.isEmpty(); }

private:
    QString index_;
};
}  // namespace

// Every dictation hears the microphone from its start: one-second dictations in a row each deliver
// at least 0.85 s of audio, with the test microphone (the monitor of the sink a tone plays into)
// and with a live source that delivers in large blocks unless asked otherwise. The engine's first,
// second and tenth dictations run on the test microphone; the live source, chosen after them, has
// its first and second.
TEST_F(CaptureEndToEnd, EveryShortDictationHearsTheMicrophoneFromItsStart) {
    struct SetUp {
        const char* name;
        QStringList module;  // loaded and made the default source; none: the test microphone
        int dictations;
    };
    const SetUp setUps[] = {
        {"the test microphone with a tone playing", {}, 10},
        {"a sine source",
         literalList({"module-sine-source", "source_name=vocalynx_sine", "rate=48000", "frequency=440"}), 2},
    };
    constexpr long long kMinimumBytes = 27200;  // 0.85 s of 16 kHz 16-bit mono
    TonePlayer player;
    player.play(440, 120.0);
    ASSERT_TRUE(waitUntilHeard("VocalynxTestMic"));
    startEngine();
    for (const SetUp& setUp : setUps) {
        SCOPED_TRACE(setUp.name);
        std::optional<LoadedModule> module;
        if (!setUp.module.isEmpty()) {
            module.emplace(setUp.module);
            ASSERT_TRUE(module->loaded());
            pactl({"set-default-source", "vocalynx_sine"});
            ASSERT_TRUE(processEventsUntil([&] { return listed(capture, "Sine source at 440 Hz"); }));
        }
        for (int n = 1; n <= setUp.dictations; ++n) {
            const Dictation d = dictate(1.0);
            std::printf("%s, dictation %d: %lld bytes, microphone ready %.3f s after the start\n", setUp.name, n,
                        d.bytesSent, d.firstAudioAfter);
            EXPECT_GE(d.bytesSent, kMinimumBytes) << "dictation " << n;
        }
    }
}

// The desktop's default microphone (the sound server's default source) is the one recorded, also
// when it is not the one Qt names, and a change of it between dictations is followed.
TEST_F(CaptureEndToEnd, TheDesktopsDefaultMicrophoneIsRecordedAndFollowed) {
    LoadedModule sinkB(literalList({"module-null-sink", "sink_name=vocalynx_sink_b", "format=float32le",
                                       "rate=48000", "channels=2",
                                       "sink_properties=device.description=VocalynxTestSpeakerB"}));
    LoadedModule micB(literalList({"module-remap-source", "source_name=vocalynx_mic_b",
                                      "master=vocalynx_sink_b.monitor", "format=float32le", "rate=48000",
                                      "channels=2", "source_properties=device.description=VocalynxTestMicB"}));
    ASSERT_TRUE(sinkB.loaded() && micB.loaded());
    ASSERT_TRUE(processEventsUntil([&] { return listed(capture, "VocalynxTestMicB"); }));

    // What the capture side calls the default, for what the server says.
    struct Case {
        const char* serverDefault;
        const char* expectedId;
    };
    const Case cases[] = {
        {"vocalynx_mic_b", "vocalynx_mic_b"},
        {"vocalynx_mic", "vocalynx_mic"},
        {"vocalynx_sink_b.monitor", nullptr},  // a monitor, which Qt does not list: Qt's own default
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serverDefault);
        pactl({"set-default-source", c.serverDefault});
        const auto device = capture.defaultInputDevice();
        ASSERT_TRUE(device.has_value());
        if (c.expectedId) {
            EXPECT_EQ(device->id.toStdString(), c.expectedId);
        } else {
            bool isListed = false;
            for (const auto& d : capture.inputDevices()) isListed = isListed || d.id == device->id;
            EXPECT_TRUE(isListed) << device->id.toStdString();
        }
    }

    // A different tone on each microphone: the speech program hears the chosen one.
    TonePlayer toneA;
    toneA.play(600, 60.0);
    TonePlayer toneB;
    toneB.play(1000, 60.0, QStringLiteral("vocalynx_sink_b"));
    ASSERT_TRUE(waitUntilHeard("VocalynxTestMic"));
    ASSERT_TRUE(waitUntilHeard("VocalynxTestMicB"));
    pactl({"set-default-source", "vocalynx_mic_b"});
    startEngine();
    dictate(2.0);
    std::vector<int> heard = reportedFrequencies();
    EXPECT_GE(windowsNear(heard, 1000), 2) << testing::PrintToString(heard);
    EXPECT_EQ(windowsNear(heard, 600), 0) << testing::PrintToString(heard);

    // Changed between dictations, after the next session was already prepared for the old one.
    pactl({"set-default-source", "vocalynx_mic"});
    const size_t before = heard.size();
    dictate(2.0);
    heard = reportedFrequencies();
    const std::vector<int> second(heard.begin() + static_cast<long>(before), heard.end());
    EXPECT_GE(windowsNear(second, 600), 2) << testing::PrintToString(heard);
    EXPECT_EQ(windowsNear(second, 1000), 0) << testing::PrintToString(heard);
    EXPECT_TRUE(rt.log.containsPart("recording pipeline armed preparedSession=fresh"));
}

}  // namespace vocalynx::test
