// The road of a dictation through the engine, with a fake speech process on the virtual clock.
#include <gtest/gtest.h>

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <atomic>
#include <thread>

#include "EngineTestSupport.h"
#include "FakeCapture.h"
#include "FakeProcesses.h"
#include "FakeSoundOutput.h"
#include "SpeechHome.h"
#include "TestRuntime.h"
#include "WhisperEngineProbe.h"
#include "engine/ColiChannel.h"
#include "engine/ColiCommand.h"
#include "engine/ColiPid.h"
#include "engine/ModelCheck.h"
#include "engine/SpeechProcess.h"
#include "engine/SpeechStream.h"
#include "engine/WhisperEngine.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// The tests send text as audio: a 16-bit buffer reaches the speech process byte for byte; a float
// buffer (the loud level that readies the microphone) gives nothing to send.
class TextAsAudio final : public AudioConverterFactory {
public:
    std::unique_ptr<AudioConverter> makeConverter(const AudioInputFormat& input) override {
        return std::make_unique<Passing>(input);
    }

private:
    struct Passing final : AudioConverter {
        explicit Passing(AudioInputFormat input) : format(input) {}
        AudioInputFormat inputFormat() const override { return format; }
        std::optional<QByteArray> convert(const SampleBuffer& buffer) override {
            if (format.format != SampleFormat::int16) return std::nullopt;
            return buffer.bytes;
        }
        AudioInputFormat format;
    };
};

class RoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(installPlaceholderSpeechProgram(rt.paths().home));
        ASSERT_TRUE(installSpeechModel(rt.paths().home));
        rt.notifications.addObserver(notifications::vocalynxModelLoadFailed, [this](const std::any&) { ++modelAlerts; });
    }
    void TearDown() override { persistentColiPid.store(0); }

    // Starts a recording and returns the capture session it records from (the session prepared
    // ahead, or the one built at the start).
    std::shared_ptr<FakeCaptureSession> start() {
        engine.startRecording([this](const QString& text) { completed << text; });
        rt.time.runUntilIdle();
        const auto sessions = capture.made();
        return sessions.empty() ? nullptr : sessions.back();
    }
    std::shared_ptr<FakeChildProcess> process() { return launcher.last(); }
    // The session the recording takes its buffers from (null when none is attached).
    std::shared_ptr<FakeCaptureSession> recordingSession() const {
        const auto sessions = capture.made();
        for (auto it = sessions.rbegin(); it != sessions.rend(); ++it)
            if ((*it)->hasSampleHandler()) return *it;
        return nullptr;
    }
    // The microphone hears a loud level: it is ready, and what it delivers from now on is sent.
    void micReady() {
        if (auto session = recordingSession()) session->deliver(constantBuffer(0.3f));
        rt.time.runUntilIdle();
    }
    // The microphone fails (a device error): the engine cancels the recording.
    // The recording is cancelled as the no-speech rule cancels it.
    void cancelForNoSpeech() { probe.requestCancelRecording(); }
    // The microphone delivers the bytes as audio (after readying it, when it is not yet ready).
    void speak(const QByteArray& pcm) {
        if (!engine.micReady()) micReady();
        if (auto session = recordingSession()) session->deliver(audio(pcm));
        rt.time.runUntilIdle();
    }
    // The bytes as a buffer of the speech format.
    static SampleBuffer audio(const QByteArray& pcm) {
        SampleBuffer buffer;
        buffer.format = SampleFormat::int16;
        buffer.sampleRate = kSpeechSampleRate;
        buffer.channelCount = 1;
        buffer.frameCount = pcm.isEmpty() ? 0 : std::max(1, static_cast<int>(pcm.size() / 2));
        buffer.bytes = pcm;
        return buffer;
    }
    // Output of the current process, then everything due now (the transcripts reach the main queue).
    void output(const QByteArray& bytes) {
        process()->out->feed(bytes);
        rt.time.runUntilIdle();
    }
    QStringList stateLines() const { return test::stateLines(rt.log); }
    // The fake recogniser: the current process prints, as its hypothesis, all it has heard (the
    // tests send text as audio), so the final text shows which audio reached which process.
    void recogniseHeardAudio() { output("{\"text\":\"" + process()->in->all() + "\"}\n"); }
    // Lets a finished dictation collapse back to idle.
    void settle() {
        rt.time.advance(3);
        ASSERT_EQ(engine.state(), RecordingState::idle);
    }

    TestRuntime rt;
    ConfigStore config{rt.runtime()};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    RecordingPlayers players;
    FakeCaptureSystem capture;
    FakeProcessLauncher launcher;
    TextAsAudio converters;
    WhisperEngine engine{{rt.runtime(), config, sounds, &players, &players, &capture, &converters, &launcher}};
    WhisperEngine::TestProbe probe{engine};
    QStringList completed;
    int modelAlerts = 0;
};

}  // namespace

TEST_F(RoadTest, AMissingModelRefusesEveryStart) {
    QFile::resize(speechModelPath(rt.paths().home), 199'999'999);
    for (int i = 0; i < 2; ++i) {
        engine.startRecording([this](const QString& t) { completed << t; });
        rt.time.runUntilIdle();
    }
    EXPECT_EQ(modelAlerts, 2);
    EXPECT_EQ(engine.state(), RecordingState::idle);
    EXPECT_TRUE(launcher.launched().empty());
    EXPECT_TRUE(players.calls.isEmpty());
    rt.time.advance(70);
    EXPECT_TRUE(completed.isEmpty());
}

TEST_F(RoadTest, AWholeDictation) {
    engine.warmUpColi();
    ASSERT_EQ(launcher.launched().size(), 1u);
    auto first = process();
    EXPECT_EQ(persistentColiPid.load(), first->pid());
    EXPECT_EQ(first->command.arguments.first(), QStringLiteral("asr-stream"));

    start();
    EXPECT_EQ(engine.state(), RecordingState::recording);
    EXPECT_EQ(players.calls, (QStringList{QStringLiteral("suspendSilent"), QStringLiteral("pauseMedia")}));
    EXPECT_GE(rt.log.indexOf(QStringLiteral("[Vocalynx] Reusing persistent coli for session ")), 0);
    EXPECT_TRUE(rt.log.lines().filter(QRegularExpression(
                    QStringLiteral(R"(^\[Vocalynx\] Reusing persistent coli for session [0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$)")))
                    .size() == 1);
    EXPECT_TRUE(stateLines().contains(QStringLiteral("recording pipeline armed preparedSession=reused")));

    speak(QByteArray(320, 'a'));
    speak(QByteArray());  // ignored
    speak(QByteArray(640, 'b'));
    EXPECT_EQ(first->in->chunks(), (QList<QByteArray>{QByteArray(320, 'a'), QByteArray(640, 'b')}));
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] First PCM chunk: 320 bytes")));

    // A line split across two reads is one transcript, once its line feed arrives.
    output(R"({"text":"今天天气)");
    EXPECT_EQ(engine.previewText(), QStringLiteral(""));
    output("很好\"}\n{\"text\":\"今天天气很好我们去公园\"}\n{\"partial\":\"今天");
    EXPECT_EQ(engine.previewText(), QStringLiteral("今天天气很好我们去公园"));

    engine.stopRecording();
    EXPECT_EQ(engine.state(), RecordingState::transcribing);
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Recording stopped. Total PCM sent: 960 bytes, buffered: 0 bytes")));
    EXPECT_EQ(soundOutput.plays(2), 1) << "the stop cue";
    // Audio after the stop is kept, not written.
    speak(QByteArray(10, 'c'));
    EXPECT_EQ(first->in->chunks().size(), 2);

    rt.time.advance(0.79);
    EXPECT_TRUE(completed.isEmpty());
    EXPECT_EQ(launcher.launched().size(), 1u);
    rt.time.advance(0.01);
    EXPECT_EQ(completed, QStringList{QStringLiteral("今天天气很好我们去公园")});
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Injecting final text: 今天天气很好我们去公园...")));
    // The process that served the dictation is ended and a fresh one started.
    EXPECT_EQ(first->terminateCount(), 1);
    EXPECT_TRUE(first->in->closed());
    EXPECT_FALSE(first->out->hasHandler());
    ASSERT_EQ(launcher.launched().size(), 2u);
    EXPECT_EQ(persistentColiPid.load(), process()->pid());
    EXPECT_FALSE(rt.log.containsPart("exited, relaunching")) << "a restart is not an exit";

    rt.time.advance(1.49);
    EXPECT_EQ(engine.state(), RecordingState::transcribing);
    rt.time.advance(0.01);
    EXPECT_EQ(engine.state(), RecordingState::collapsing);
    rt.time.advance(0.49);
    EXPECT_EQ(engine.state(), RecordingState::collapsing);
    rt.time.advance(0.01);
    EXPECT_EQ(engine.state(), RecordingState::idle);
    EXPECT_FALSE(probe.stopping());
    EXPECT_EQ(engine.previewText(), QStringLiteral("今天天气很好我们去公园")) << "the preview stays until the next start";
    EXPECT_EQ(players.calls, (QStringList{QStringLiteral("suspendSilent"), QStringLiteral("pauseMedia"), QStringLiteral("resumeSilent"), QStringLiteral("resumeMedia")}));

    const QStringList lines = stateLines();
    const int begin = lines.indexOf(QRegularExpression(
        QStringLiteral(R"(^finishColiStream begin activeSession=Optional\([0-9A-F-]{36}\) pendingAudioBuffer=0$)")));
    const int drained = lines.indexOf(QRegularExpression(QStringLiteral(R"(^finishColiStream drainComplete session=Optional\([0-9A-F-]{36}\)$)")));
    const int post = lines.indexOf(QStringLiteral("postRecording finalTextLength=11 previewLength=11"));
    EXPECT_GE(begin, 0);
    EXPECT_GT(drained, begin);
    EXPECT_GT(post, drained);

    // The next dictation reuses the fresh process.
    start();
    speak(QByteArray(4, 'd'));
    EXPECT_EQ(process()->in->chunks().last(), QByteArray(4, 'd'));
    EXPECT_EQ(engine.previewText(), QStringLiteral(""));
}

TEST_F(RoadTest, OutputAfterTheDrainIsDropped) {
    engine.warmUpColi();
    start();
    output("{\"text\":\"第一句话\"}\n");
    auto first = process();
    const auto lateRead = first->out->handler();
    engine.stopRecording();
    rt.time.advance(0.8);
    ASSERT_EQ(completed, QStringList{QStringLiteral("第一句话")});
    // The old process's reader is gone; a read that was already under way finds no session.
    EXPECT_FALSE(first->out->feed("{\"text\":\"迟到的\"}\n"));
    lateRead("{\"text\":\"迟到的\"}\n{\"text\":\"unfinished");
    rt.time.runUntilIdle();
    EXPECT_EQ(engine.previewText(), QStringLiteral("第一句话"));
    // Nothing of it is joined to the next dictation's first line.
    start();
    output("{\"text\":\"新的\"}\n");
    EXPECT_EQ(engine.previewText(), QStringLiteral("新的"));
}

// Without the speech program a press records nothing that could never be heard: nothing starts,
// and every press tells what is missing and where it was looked for. Once the program is there the
// next press records, without a restart.
TEST_F(RoadTest, WithoutAProgramNothingStartsAndTheUserIsToldWhere) {
    std::vector<SpeechProgramTrouble> troubles;
    rt.notifications.addObserver(notifications::speechProgramUnavailable, [&](const std::any& object) {
        troubles.push_back(std::any_cast<SpeechProgramTrouble>(object));
    });
    QFile::remove(speechProgramPath(rt.paths().home));
    engine.warmUpColi();
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] coli not found, skipping warm-up")));
    for (int press = 0; press < 2; ++press) {
        start();
        EXPECT_EQ(engine.state(), RecordingState::idle);
    }
    ASSERT_EQ(troubles.size(), 2u);
    EXPECT_EQ(troubles[0].kind, SpeechProgramTrouble::Kind::notFound);
    EXPECT_TRUE(troubles[0].places.contains(speechProgramPath(rt.paths().home)));
    EXPECT_EQ(troubles[0].places.last(), QStringLiteral("PATH"));
    EXPECT_EQ(modelAlerts, 0);
    EXPECT_TRUE(capture.made().empty());
    EXPECT_TRUE(players.calls.isEmpty());
    EXPECT_TRUE(launcher.launched().empty());

    ASSERT_TRUE(installPlaceholderSpeechProgram(rt.paths().home));
    start();
    EXPECT_EQ(engine.state(), RecordingState::recording);
    EXPECT_EQ(launcher.launched().size(), 1u);
    EXPECT_EQ(troubles.size(), 2u);
}

// A program that is found but cannot be started: the audio is kept while the recording lasts, and
// the stop does not wait for a drain that cannot come.
TEST_F(RoadTest, WhenTheProgramCannotStartAudioIsKeptAndTheDrainDoesNotWait) {
    launcher.launchError = QStringLiteral("Permission denied");
    start();
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Failed to launch persistent coli: Permission denied")));
    speak(QByteArray(100, 'a'));
    speak(QByteArray(50, 'b'));
    engine.stopRecording();
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Recording stopped. Total PCM sent: 0 bytes, buffered: 150 bytes")));
    EXPECT_TRUE(stateLines().contains(QStringLiteral("finishColiStream coli not running, skipping drain wait")));
    EXPECT_TRUE(stateLines().filter(QStringLiteral("finishColiStream begin")).value(0).endsWith(QStringLiteral("pendingAudioBuffer=2")));
    rt.time.runUntilIdle();
    EXPECT_TRUE(stateLines().contains(QStringLiteral("postRecording finalText empty; skipping injection")));
    EXPECT_TRUE(completed.isEmpty());
    EXPECT_TRUE(launcher.launched().empty());
    rt.time.advance(2.0);
    EXPECT_EQ(engine.state(), RecordingState::idle);
}

TEST_F(RoadTest, OnDemandLaunchAtTheStart) {
    start();  // no warm-up: the session launches the process
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Persistent coli not ready, launching on-demand...")));
    ASSERT_EQ(launcher.launched().size(), 1u);
    speak(QByteArray(8, 'x'));
    EXPECT_EQ(process()->in->chunks(), QList<QByteArray>{QByteArray(8, 'x')});
    output("plain text transcript\n");
    EXPECT_EQ(engine.previewText(), QStringLiteral("plain text transcript"));
}

TEST_F(RoadTest, AFailedOnDemandLaunchKeepsTheAudioWhileTheRecordingLasts) {
    launcher.launchError = QStringLiteral("No such file or directory");
    start();
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Failed to launch persistent coli: No such file or directory")));
    speak(QByteArray(3, '1'));
    speak(QByteArray(3, '2'));
    launcher.launchError.reset();
    probe.terminateColiProcess();  // a process that comes while it records takes the kept audio, in order
    ASSERT_EQ(launcher.launched().size(), 1u);
    EXPECT_EQ(process()->in->chunks(), (QList<QByteArray>{QByteArray(3, '1'), QByteArray(3, '2')}));
    speak(QByteArray(3, '3'));
    EXPECT_EQ(process()->in->all(), "111222333");
}

// Whatever ended the first dictation, the second one's process hears only the second one's audio,
// and its text holds only the second one's words.
enum class FirstEnding { failedLaunch, cancelled, diedThenStoppedBeforeTheRelaunch, printedBetweenDictations };

class NextDictationTest : public RoadTest, public ::testing::WithParamInterface<FirstEnding> {};

TEST_P(NextDictationTest, HearsAndTypesOnlyItsOwnWords) {
    switch (GetParam()) {
        case FirstEnding::failedLaunch:
            launcher.launchError = QStringLiteral("No such file or directory");
            start();
            speak("甲乙丙");
            launcher.launchError.reset();  // the restart after the drain succeeds
            engine.stopRecording();
            break;
        case FirstEnding::cancelled:
            engine.warmUpColi();
            start();
            speak("甲乙丙");
            recogniseHeardAudio();
            cancelForNoSpeech();
            break;
        case FirstEnding::diedThenStoppedBeforeTheRelaunch:
            engine.warmUpColi();
            start();
            speak("甲乙");
            recogniseHeardAudio();
            process()->exit();
            speak("丙");  // kept for a relaunch that this recording does not live to see
            engine.stopRecording();
            rt.time.runUntilIdle();
            EXPECT_EQ(completed, QStringList{QStringLiteral("甲乙")});
            break;
        case FirstEnding::printedBetweenDictations:
            engine.warmUpColi();
            start();
            speak("甲乙丙");
            recogniseHeardAudio();
            engine.stopRecording();
            rt.time.advance(0.8);
            // The replacement process prints while no dictation is open: it is read (and dropped),
            // not left in the pipe for the next dictation.
            ASSERT_TRUE(process()->out->feed("{\"text\":\"幽灵\"}\n"));
            break;
    }
    settle();
    completed.clear();

    start();
    micReady();
    speak("丁戊");
    rt.time.runUntilIdle();
    EXPECT_EQ(engine.previewText(), QStringLiteral("")) << "no transcript from before";
    EXPECT_EQ(process()->in->all(), "丁戊");
    recogniseHeardAudio();
    engine.stopRecording();
    rt.time.advance(0.8);
    EXPECT_EQ(completed, QStringList{QStringLiteral("丁戊")});
}

INSTANTIATE_TEST_SUITE_P(FirstDictation, NextDictationTest,
                         ::testing::Values(FirstEnding::failedLaunch, FirstEnding::cancelled,
                                           FirstEnding::diedThenStoppedBeforeTheRelaunch,
                                           FirstEnding::printedBetweenDictations),
                         [](const ::testing::TestParamInfo<FirstEnding>& param) {
                             switch (param.param) {
                                 case FirstEnding::failedLaunch: return "FailedLaunch";
                                 case FirstEnding::cancelled: return "Cancelled";
                                 case FirstEnding::diedThenStoppedBeforeTheRelaunch: return "DiedThenStopped";
                                 case FirstEnding::printedBetweenDictations: return "PrintedBetween";
                             }
                             return "Unknown";
                         });

TEST_F(RoadTest, CancelDropsTheSessionAndReplacesItsProcess) {
    engine.warmUpColi();
    start();
    auto heard = process();
    const auto lateRead = heard->out->handler();
    output("{\"text\":\"你好\"}\n");
    players.calls.clear();
    cancelForNoSpeech();
    cancelForNoSpeech();  // the second comes before the cancel has run
    rt.time.runUntilIdle();
    EXPECT_EQ(rt.log.countPart("[Vocalynx] Cancelling recording as no-speech timeout fired (preview='你好')"), 1);
    EXPECT_EQ(engine.state(), RecordingState::collapsing);
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Recording cancelled (no speech)")));
    rt.time.advance(0.49);
    EXPECT_EQ(engine.state(), RecordingState::collapsing);
    EXPECT_EQ(engine.previewText(), QStringLiteral(""));
    EXPECT_EQ(players.calls, (QStringList{QStringLiteral("resumeSilent"), QStringLiteral("resumeMedia")}));
    // The process that heard the cancelled audio is ended, as after a stop, and a fresh one waits.
    EXPECT_EQ(heard->terminateCount(), 1);
    EXPECT_TRUE(heard->in->closed());
    ASSERT_EQ(launcher.launched().size(), 2u);
    EXPECT_NE(process(), heard);
    lateRead("{\"text\":\"迟到的\"}\n");  // a read of the cancelled process still under way
    output("{\"text\":\"迟到的\"}\n");
    EXPECT_EQ(engine.previewText(), QStringLiteral(""));
    rt.time.advance(0.01);
    EXPECT_EQ(engine.state(), RecordingState::idle);
    EXPECT_FALSE(probe.stopping());
    rt.time.advance(70);
    EXPECT_TRUE(completed.isEmpty());
    EXPECT_EQ(launcher.launched().size(), 2u);
    EXPECT_EQ(soundOutput.calls.filter(QStringLiteral("play")).size(), 0) << "no cue on cancel";
}

TEST_F(RoadTest, MicStartupWatchdog) {
    engine.warmUpColi();
    start();
    rt.time.advance(3.99);
    EXPECT_EQ(engine.state(), RecordingState::recording);
    rt.time.advance(0.01);
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Mic startup watchdog fired; cancelling stuck recording")));
    EXPECT_TRUE(stateLines().contains(
        QStringLiteral("AUTO_DUMP trigger=mic-startup-watchdog state=recording micReady=false isStopping=false previewLen=0")));
    EXPECT_EQ(engine.state(), RecordingState::collapsing);
}

TEST_F(RoadTest, MicStartupWatchdogLeavesAReadyMicrophoneAlone) {
    engine.warmUpColi();
    start();
    micReady();
    rt.time.advance(5);
    EXPECT_EQ(engine.state(), RecordingState::recording);
    EXPECT_FALSE(rt.log.containsPart("Mic startup watchdog fired"));
}

TEST_F(RoadTest, SixtySecondLimitStopsAndInjects) {
    engine.warmUpColi();
    start();
    micReady();
    output("{\"text\":\"很长的一段话\"}\n");
    rt.time.advance(59.99);
    EXPECT_EQ(engine.state(), RecordingState::recording);
    rt.time.advance(0.01);
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Recording timeout reached (60.0s), force stopping")));
    EXPECT_EQ(engine.state(), RecordingState::transcribing);
    rt.time.advance(0.8);
    EXPECT_EQ(completed, QStringList{QStringLiteral("很长的一段话")});
}

TEST_F(RoadTest, TheLimitAfterAManualStopDoesNothing) {
    engine.warmUpColi();
    start();
    micReady();
    rt.time.advance(10);
    engine.handleStopShortcut();
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Stop shortcut pressed")));
    rt.time.advance(60);
    EXPECT_FALSE(rt.log.containsPart("Recording timeout reached"));
    EXPECT_EQ(engine.state(), RecordingState::idle);
    engine.handleStopShortcut();  // not recording: nothing
    EXPECT_EQ(rt.log.countPart("Stop shortcut pressed"), 1);
}

TEST_F(RoadTest, TwoAutomaticStopRequestsStopOnce) {
    engine.warmUpColi();
    start();
    probe.requestStopRecording(QStringLiteral("silence"));
    probe.requestStopRecording(QStringLiteral("hard timeout"));
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Auto-stopping (reason=silence, rms=0.0000, floor=0.0030)")));
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Auto-stopping (reason=hard timeout, rms=0.0000, floor=0.0030)")));
    rt.time.runUntilIdle();
    EXPECT_EQ(stateLines().count(QStringLiteral("requestStopRecording dispatch stop")), 2);
    EXPECT_EQ(rt.log.countPart("Recording stopped. Total PCM sent"), 1);
    engine.stopRecording();  // while transcribing: nothing
    EXPECT_EQ(rt.log.countPart("Recording stopped. Total PCM sent"), 1);
}

TEST_F(RoadTest, FinalTextRules) {
    struct Case {
        QByteArray line;
        std::optional<QString> injected;
    };
    const QString longText = QString(120, QChar(u'字'));
    const Case cases[] = {
        {"{\"text\":\"你好？。\"}", QStringLiteral("你好？")},
        {"{\"text\":\"，。！？\"}", std::nullopt},  // punctuation alone is never typed
        {"{\"text\":\"😀😀\"}", std::nullopt},      // neither letters nor digits
        {"{\"text\":\"" + longText.toUtf8() + "\"}", longText},
    };
    for (const Case& c : cases) {
        completed.clear();
        rt.log.clear();
        engine.warmUpColi();
        start();
        micReady();
        output(c.line + "\n");
        engine.stopRecording();
        rt.time.advance(0.8);
        if (c.injected) {
            EXPECT_EQ(completed, QStringList{*c.injected}) << c.line.toStdString();
        } else {
            EXPECT_TRUE(completed.isEmpty()) << c.line.toStdString();
            EXPECT_TRUE(stateLines().contains(QStringLiteral("postRecording finalText empty; skipping injection")));
        }
        rt.time.advance(2.0);
        EXPECT_EQ(engine.state(), RecordingState::idle);
    }
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Injecting final text: ") + QString(50, QChar(u'字')) + QStringLiteral("...")));
}

TEST_F(RoadTest, TheStopPhraseEndsTheRecordingAndIsNotTyped) {
    engine.warmUpColi();
    start();
    micReady();
    output("{\"text\":\"好的，就这样喵。\"}\n");
    EXPECT_EQ(engine.previewText(), QStringLiteral("好的"));
    EXPECT_TRUE(rt.log.containsPart("[Vocalynx] Auto-stopping (reason=voice phrase"));
    rt.time.runUntilIdle();
    EXPECT_EQ(engine.state(), RecordingState::transcribing);
    rt.time.advance(0.8);
    EXPECT_EQ(completed, QStringList{QStringLiteral("好的")});
}

TEST_F(RoadTest, EarlyStrayMarksAreIgnored) {
    engine.warmUpColi();
    start();
    micReady();
    rt.time.advance(0.2);
    output("{\"text\":\"。\"}\n");
    EXPECT_EQ(engine.previewText(), QStringLiteral(""));
    output("{\"text\":\"嗯\"}\n");
    EXPECT_EQ(engine.previewText(), QStringLiteral("嗯"));
}

TEST_F(RoadTest, BadOutputLosesNothingAlreadyShown) {
    engine.warmUpColi();
    start();
    output("{\"text\":\"第一句话\"}\n");
    const QByteArray bad[] = {
        "{\"unexpected\":{\"shape\":[1,2]}}\n", "[]\n", "{\"text\":5}\n", QByteArray("\xff\xfe\xfd\n"),
        "   \n", QByteArray(ColiLineBuffer::maxLineBytes + 10, '{') + "\n",
    };
    for (const QByteArray& b : bad) output(b);
    EXPECT_EQ(engine.previewText(), QStringLiteral("第一句话"));
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Dropped a coli output line longer than 1048576 bytes")));
    output("{\"text\":\"第一句话后来又说了\"}\n");
    EXPECT_EQ(engine.previewText(), QStringLiteral("第一句话后来又说了"));
}

TEST_F(RoadTest, PreparedSessionAge) {
    struct Case {
        double age;
        bool reused;
    };
    for (const Case c : {Case{15.0, true}, Case{15.1, false}}) {
        SCOPED_TRACE(c.age);
        rt.log.clear();
        // An engine of its own per case: its warm-up prepares the session at a known time.
        WhisperEngine fresh{{rt.runtime(), config, sounds, &players, &players, &capture, &converters, &launcher}};
        fresh.warmUpColi();
        const auto sessions = capture.made();
        ASSERT_FALSE(sessions.empty());
        const auto prepared = sessions.back();
        rt.time.advance(c.age);
        fresh.startRecording([](const QString&) {});
        rt.time.runUntilIdle();
        if (c.reused) {
            EXPECT_TRUE(stateLines().contains(QStringLiteral("recording pipeline armed preparedSession=reused")));
            EXPECT_EQ(prepared->startCount, 1);
        } else {
            EXPECT_TRUE(stateLines().contains(QStringLiteral("recording pipeline armed preparedSession=fresh")));
            EXPECT_EQ(prepared->startCount, 0);
            EXPECT_EQ(prepared->tearDownCount, 1) << "the stale session is discarded";
        }
        fresh.stopRecording();
        rt.time.advance(3);
    }
}

TEST_F(RoadTest, ACaptureStartResultAfterTheStopIsIgnored) {
    capture.sessionsStartRunning = false;
    engine.warmUpColi();
    engine.startRecording([](const QString&) {});
    engine.stopRecording();  // before the capture-session queue ran the start
    rt.time.runUntilIdle();
    EXPECT_FALSE(rt.log.containsPart("Capture session failed to start"));
    EXPECT_EQ(engine.state(), RecordingState::transcribing);
}

TEST_F(RoadTest, ACaptureSessionThatDoesNotRunCancels) {
    capture.sessionsStartRunning = false;
    engine.warmUpColi();
    engine.startRecording([](const QString&) {});
    rt.time.runUntilIdle();
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Capture session failed to start")));
    EXPECT_EQ(engine.state(), RecordingState::collapsing);
}

// ---- the persistent process ----

TEST_F(RoadTest, AProcessKilledFromOutsideIsRelaunchedAfterOneSecond) {
    engine.warmUpColi();
    auto first = process();
    first->exit();
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Persistent coli process exited, relaunching...")));
    EXPECT_EQ(persistentColiPid.load(), 0);
    rt.time.advance(0.99);
    EXPECT_EQ(launcher.launched().size(), 1u);
    rt.time.advance(0.01);
    ASSERT_EQ(launcher.launched().size(), 2u);
    EXPECT_EQ(persistentColiPid.load(), process()->pid());
}

TEST_F(RoadTest, AProcessThatDiesAtOnceIsRelaunchedOncePerSecond) {
    engine.warmUpColi();
    for (int i = 0; i < 10; ++i) {
        process()->exit();
        rt.time.advance(1.0);
    }
    EXPECT_EQ(launcher.launched().size(), 11u);
    EXPECT_EQ(rt.time.pending(), 0u) << "nothing else is queued: no busy loop";
}

// A program that exits right after every launch is told once for each run of such exits; one that
// lives on ends the run.
TEST_F(RoadTest, AProgramThatExitsAtOnceIsToldOnce) {
    std::vector<SpeechProgramTrouble> troubles;
    rt.notifications.addObserver(notifications::speechProgramUnavailable, [&](const std::any& object) {
        troubles.push_back(std::any_cast<SpeechProgramTrouble>(object));
    });
    engine.warmUpColi();
    for (int i = 0; i < 2; ++i) {
        process()->exit();
        rt.time.advance(1.0);
    }
    EXPECT_TRUE(troubles.empty());
    for (int i = 0; i < 5; ++i) {
        process()->exit();
        rt.time.advance(1.0);
    }
    ASSERT_EQ(troubles.size(), 1u);
    EXPECT_EQ(troubles[0].kind, SpeechProgramTrouble::Kind::exitsAtOnce);
    EXPECT_EQ(troubles[0].program, speechProgramPath(rt.paths().home));
    EXPECT_EQ(modelAlerts, 0);

    rt.time.advance(SpeechProcess::quickExitSeconds + 1);  // this one lives
    process()->exit();
    rt.time.advance(1.0);
    for (int i = 0; i < 2; ++i) {
        process()->exit();
        rt.time.advance(1.0);
    }
    EXPECT_EQ(troubles.size(), 1u);
    process()->exit();
    rt.time.advance(1.0);
    EXPECT_EQ(troubles.size(), 2u);
}

TEST_F(RoadTest, NoRelaunchDuringShutdown) {
    engine.warmUpColi();
    auto first = process();
    engine.shutdown();
    EXPECT_EQ(first->terminateCount(), 1);
    EXPECT_TRUE(first->in->closed());
    EXPECT_FALSE(first->hasTerminationHandler());
    EXPECT_EQ(persistentColiPid.load(), 0);
    first->exit();
    rt.time.advance(5);
    EXPECT_EQ(launcher.launched().size(), 1u);
    // Nor does anything else launch one: a warm-up, a recovery, a dictation and its drain.
    engine.warmUpColi();
    engine.recoverFromStalledState(RecordingState::idle, QStringLiteral("test"));
    start();
    engine.stopRecording();
    rt.time.advance(5);
    EXPECT_EQ(launcher.launched().size(), 1u);
}

TEST_F(RoadTest, AModelFailureIsReportedOnceAndStopsRelaunches) {
    engine.warmUpColi();
    auto first = process();
    first->err->feed("Load model from /x/model.int8.onnx\n");  // one phrase: nothing
    rt.time.runUntilIdle();
    EXPECT_EQ(modelAlerts, 0);
    first->err->feed("  Load model from /x/model.int8.onnx failed\n");
    first->err->feed("Load model from /x failed again");
    first->err->feed(QByteArray("\xff\xfe"));  // not UTF-8: ignored
    rt.time.runUntilIdle();
    EXPECT_EQ(modelAlerts, 1);
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] coli stderr: Load model from /x/model.int8.onnx failed")));
    EXPECT_EQ(rt.log.countPart("[Vocalynx] coli stderr: "), 3);

    first->exit();
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Skipping coli relaunch — model load failed")));
    rt.time.advance(5);
    EXPECT_EQ(launcher.launched().size(), 1u);
    // A dictation still launches its process on demand, and the restart after its drain too.
    start();
    EXPECT_EQ(launcher.launched().size(), 2u);
    engine.stopRecording();
    rt.time.advance(0.8);
    EXPECT_EQ(launcher.launched().size(), 3u);
}

TEST_F(RoadTest, RecoveryRestartsTheProcess) {
    engine.warmUpColi();
    auto first = process();
    start();
    engine.recoverFromStalledState(RecordingState::recording, QStringLiteral("test"));
    EXPECT_EQ(first->terminateCount(), 1);
    EXPECT_EQ(launcher.launched().size(), 2u);
    output("{\"text\":\"no session\"}\n");
    EXPECT_EQ(engine.previewText(), QStringLiteral(""));
}

// The microphone delivers from a thread of its own while the pipe readers deliver output and
// standard error, and the test thread runs the audio queue (conversion, writing, the level
// evaluation that reads the transcript fields) and the main queue (the preview), all at once (for
// the thread sanitizer as much as for the result).
TEST_F(RoadTest, AudioOutputAndTranscriptsAtOnce) {
    engine.warmUpColi();
    start();
    micReady();
    rt.time.advance(LevelTracker::kWarmUp);  // from here on every buffer is evaluated
    auto proc = process();
    auto session = recordingSession();
    ASSERT_TRUE(session);
    constexpr int chunks = 2000, lines = 300;
    std::atomic<int> running{3};
    std::thread microphone([&] {
        for (int i = 0; i < chunks; ++i) session->deliver(audio(QByteArray(32, static_cast<char>(i))));
        --running;
    });
    std::thread reader([&] {
        for (int i = 1; i <= lines; ++i) {
            // Every line split in two reads, the cut inside a character.
            const QByteArray line = QStringLiteral("{\"text\":\"第%1句话说了很多很多的内容\"}\n").arg(i).toUtf8();
            proc->out->feed(line.left(line.size() / 2 + 1));
            proc->out->feed(line.mid(line.size() / 2 + 1));
        }
        --running;
    });
    std::thread errors([&] {
        for (int i = 0; i < 100; ++i) proc->err->feed("loading\n");
        --running;
    });
    while (running.load() > 0) rt.time.runUntilIdle();
    microphone.join();
    reader.join();
    errors.join();
    rt.time.runUntilIdle();
    EXPECT_EQ(proc->in->all().size(), chunks * 32);
    EXPECT_EQ(engine.previewText(), QStringLiteral("第%1句话说了很多很多的内容").arg(lines));
    engine.stopRecording();
    rt.time.advance(0.8);
    EXPECT_EQ(completed, QStringList{QStringLiteral("第%1句话说了很多很多的内容").arg(lines)});
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Recording stopped. Total PCM sent: 64000 bytes, buffered: 0 bytes")));
}

// ---- what the recogniser delivered last ----

// The final text is the newest hypothesis, not the calmer preview: the preview's rules hold back
// small changes at the tail, and a last hypothesis that adds a few characters must still be typed.
TEST_F(RoadTest, FinalTextFromTheNewestHypothesis) {
    struct Case {
        QString name;
        QStringList beforeStop, duringDrain;
        std::optional<QString> typed;
    };
    const Case cases[] = {
        {QStringLiteral("one character at the tail"), {QStringLiteral("今天天气很好"), QStringLiteral("今天天气很好吗")}, {}, QStringLiteral("今天天气很好吗")},
        {QStringLiteral("two characters at the tail"), {QStringLiteral("今天天气很好"), QStringLiteral("今天天气很好吗？")}, {}, QStringLiteral("今天天气很好吗？")},
        {QStringLiteral("three characters at the tail"), {QStringLiteral("今天天气很好"), QStringLiteral("今天天气很好我们去")}, {}, QStringLiteral("今天天气很好我们去")},
        {QStringLiteral("growth in the drain"), {QStringLiteral("今天天气很好")}, {QStringLiteral("今天天气很好吗")}, QStringLiteral("今天天气很好吗")},
        {QStringLiteral("the head dropped keeps the fuller text"), {QStringLiteral("hello world"), QStringLiteral("llo world")}, {}, QStringLiteral("hello world")},
        {QStringLiteral("a flicker between variants ends on the newest"),
         {QStringLiteral("今天天气很好"), QStringLiteral("今天天汽很好"), QStringLiteral("今天天气很好"), QStringLiteral("今天天汽很好")}, {}, QStringLiteral("今天天汽很好")},
        {QStringLiteral("the stop phrase in the last hypothesis"), {QStringLiteral("好的"), QStringLiteral("好的就这样喵")}, {}, QStringLiteral("好的")},
        {QStringLiteral("words after the stop phrase are not typed"), {QStringLiteral("好的，就这样喵。")}, {QStringLiteral("好的就这样喵谢谢")}, QStringLiteral("好的")},
        {QStringLiteral("doubled end punctuation"), {QStringLiteral("你好"), QStringLiteral("你好？。")}, {}, QStringLiteral("你好？")},
        {QStringLiteral("a last hypothesis of punctuation alone"), {QStringLiteral("今天天气很好"), QStringLiteral("。")}, {}, QStringLiteral("今天天气很好")},
        {QStringLiteral("punctuation alone throughout"), {QStringLiteral("，"), QStringLiteral("，。！")}, {}, std::nullopt},
    };
    engine.warmUpColi();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        completed.clear();
        start();
        micReady();
        for (const QString& h : c.beforeStop) output("{\"text\":\"" + h.toUtf8() + "\"}\n");
        engine.stopRecording();  // nothing when the stop phrase already stopped it
        for (const QString& h : c.duringDrain) output("{\"text\":\"" + h.toUtf8() + "\"}\n");
        rt.time.advance(0.8);
        EXPECT_EQ(completed, c.typed ? QStringList{*c.typed} : QStringList{});
        settle();
    }
}

// ---- a process that dies while it records ----

TEST_F(RoadTest, AProcessKilledMidRecordingHandsTheSessionToItsRelaunch) {
    engine.warmUpColi();
    start();
    micReady();
    auto first = process();
    speak("a");
    output("{\"text\":\"今天天气很好\"}\n");
    first->exit();
    EXPECT_TRUE(rt.log.containsPart("[Vocalynx] coli exited during the recording of session "));
    speak("b");  // while no process runs: kept
    rt.time.advance(1.0);
    ASSERT_EQ(launcher.launched().size(), 2u);
    auto relaunched = process();
    EXPECT_TRUE(rt.log.containsPart(" continues on the relaunched coli; the text so far is kept"));
    speak("c");
    EXPECT_EQ(relaunched->in->chunks(), (QList<QByteArray>{"b", "c"})) << "the kept audio first, in order";
    output("{\"text\":\"我们去公园\"}\n");
    EXPECT_EQ(engine.previewText(), QStringLiteral("今天天气很好我们去公园")) << "the panel keeps what it showed";
    output("{\"text\":\"我们去公园吧\"}\n");
    engine.stopRecording();
    EXPECT_TRUE(relaunched->in->closed());
    rt.time.advance(0.8);
    EXPECT_EQ(completed, QStringList{QStringLiteral("今天天气很好我们去公园吧")});
    EXPECT_EQ(launcher.launched().size(), 3u) << "replaced after the drain as always";
}

// ---- delayed steps of an earlier dictation ----

// After a recovery, what the recovered dictation still had scheduled leaves the next one alone:
// it keeps recording, stops when asked and types its text.
TEST_F(RoadTest, AStaleDelayedStepLeavesTheNextDictationAlone) {
    enum class Pending { collapseAfterPostRecording, idleAfterCancel };
    for (Pending pending : {Pending::collapseAfterPostRecording, Pending::idleAfterCancel}) {
        SCOPED_TRACE(static_cast<int>(pending));
        engine.warmUpColi();
        start();
        output("{\"text\":\"第一句\"}\n");
        if (pending == Pending::collapseAfterPostRecording) {
            engine.stopRecording();
            rt.time.advance(0.8);  // post-recording ran: the collapse is 1.5 s away
        } else {
            cancelForNoSpeech();
            rt.time.runUntilIdle();  // collapsing: idle is 0.5 s away
        }
        engine.recoverFromStalledState(engine.state(), QStringLiteral("test"));
        completed.clear();

        start();
        micReady();
        rt.time.advance(2.5);
        EXPECT_EQ(engine.state(), RecordingState::recording);
        output("{\"text\":\"第二句\"}\n");
        engine.stopRecording();
        rt.time.advance(0.8);
        EXPECT_EQ(completed, QStringList{QStringLiteral("第二句")});
        settle();
    }
}

// ---- the end of the recogniser's input ----

TEST_F(RoadTest, TheStopEndsTheInputAndTheDrainStillReads) {
    engine.warmUpColi();
    start();
    micReady();
    auto first = process();
    output("{\"text\":\"今天天气很好\"}\n");
    engine.stopRecording();
    EXPECT_TRUE(first->in->closed()) << "the recogniser sees the end of its input at the stop";
    rt.time.advance(0.3);
    // It finishes its last segment and ends, as a recogniser does at the end of its input.
    output("{\"text\":\"今天天气很好，我们去公园吧。\"}\n");
    first->exit();
    EXPECT_FALSE(rt.log.containsPart("exited, relaunching")) << "an expected end, not a crash";
    rt.time.advance(0.5);
    EXPECT_EQ(completed, QStringList{QStringLiteral("今天天气很好，我们去公园吧。")});
    rt.time.advance(2);
    EXPECT_EQ(launcher.launched().size(), 2u) << "one replacement, no relaunch";
}

// ---- a program that prints faster than the main thread handles ----

TEST_F(RoadTest, AFastProgramKeepsOneHandOffOnTheMainQueue) {
    engine.warmUpColi();
    start();
    micReady();
    auto proc = process();
    const size_t before = rt.time.pending();
    // Distinct long hypotheses, and a stop phrase repeated, with the main queue not running.
    QString last;
    for (int i = 0; i < 1000; ++i) {
        last = QStringLiteral("第%1句").arg(i) + QString(400, QChar(u'字'));
        proc->out->feed("{\"text\":\"" + last.toUtf8() + "\"}\n");
    }
    EXPECT_LE(rt.time.pending(), before + 1);
    // The rules saw every line: a preview that stands for three lines counts as stable at once.
    proc->out->feed("{\"text\":\"" + last.toUtf8() + "吗\"}\n");
    proc->out->feed("{\"text\":\"" + last.toUtf8() + "\"}\n");
    proc->out->feed("{\"text\":\"" + last.toUtf8() + "吗\"}\n");
    EXPECT_EQ(probe.transcriptSnapshot().stablePreviewCount, 3);
    for (int i = 0; i < 1000; ++i) proc->out->feed("{\"text\":\"好的就这样喵\"}\n");
    EXPECT_LE(rt.time.pending(), before + 2) << "one preview hand-off and one stop request";
    EXPECT_EQ(rt.log.countPart("Auto-stopping (reason=voice phrase"), 1);
    rt.time.runUntilIdle();
    EXPECT_EQ(engine.previewText(), QStringLiteral("好的"));
    EXPECT_EQ(engine.state(), RecordingState::transcribing);
    rt.time.advance(0.8);
    EXPECT_EQ(completed, QStringList{QStringLiteral("好的")});
}

// ---- the speech process and stream on their own ----

// The two parts with the fake launcher, for what the engine never does from its entry points: a
// second launch racing the first (an on-demand start and a relaunch on two threads), and a second
// finish of one session.
class SpeechPartsTest : public RoadTest {
protected:
    ColiChannel channel;
    ColiLocator locator{rt.paths().home, rt.runtime().paths.resources, ColiLocator::processEnvironment(), &launcher};
    SpeechProcess speech{rt.runtime(), channel, locator, &launcher,
                         {{}, {},
                          [this](const std::shared_ptr<ChildProcess>& launched) { stream.processLaunched(launched); },
                          [this](const ChildProcess* exited) { stream.processExited(exited); }, {}}};
    SpeechStream stream{rt.runtime(), channel, speech, locator, {}};
};

// Two launches that overlap keep one process: the later one is ended at once rather than left
// running with nobody holding it.
TEST_F(SpeechPartsTest, ALaunchThatFindsAProcessStoredEndsItsOwn) {
    speech.launchPersistentColi();
    auto first = process();
    speech.launchPersistentColi();
    ASSERT_EQ(launcher.launched().size(), 2u);
    auto second = process();
    EXPECT_EQ(second->terminateCount(), 1);
    EXPECT_FALSE(second->isRunning());
    EXPECT_EQ(first->terminateCount(), 0);
    {
        std::lock_guard lock(channel.processLock);
        EXPECT_EQ(channel.persistentColiProcess, first);
    }
    EXPECT_EQ(persistentColiPid.load(), first->pid());
}

TEST_F(SpeechPartsTest, ASecondFinishReplacesTheFirst) {
    speech.launchPersistentColi();
    stream.beginColiSession();
    int firstRuns = 0, secondRuns = 0;
    stream.finishColiStream([&] { ++firstRuns; });
    rt.time.advance(0.5);
    stream.finishColiStream([&] { ++secondRuns; });
    rt.time.advance(0.3);  // the first would have been due now
    EXPECT_EQ(firstRuns + secondRuns, 0);
    rt.time.advance(0.5);
    EXPECT_EQ(firstRuns, 0);
    EXPECT_EQ(secondRuns, 1);
    EXPECT_EQ(launcher.launched().size(), 2u) << "one restart";
    rt.time.advance(5);
    EXPECT_EQ(firstRuns, 0);
}

// The panel is told whether the recording's microphone is a pair of AirPods, as the recording
// picks it (AirPods when connected, else the desktop's default).
TEST_F(RoadTest, TellsWhetherTheMicrophoneIsAirPods) {
    int changes = 0;
    QObject::connect(&engine, &WhisperEngine::microphoneChanged, [&] { ++changes; });
    start();
    EXPECT_FALSE(engine.microphoneIsAirPods());
    EXPECT_EQ(changes, 0);
    engine.stopRecording();
    settle();

    capture.devices.push_back({QStringLiteral("bt-1"), QStringLiteral("Ada's AirPods Pro"), true});
    start();
    EXPECT_TRUE(engine.microphoneIsAirPods());
    EXPECT_EQ(changes, 1);
}
