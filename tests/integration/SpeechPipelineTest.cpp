// The speech pipeline with the real process code and the stand-in speech program on the real
// clock, and the application's speech processes against the ways an application can end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "AppProcess.h"
#include "FakeCapture.h"
#include "FakeSoundOutput.h"
#include "LiveRuntime.h"
#include "RecordingLogger.h"
#include "TestRuntime.h"
#include "StandInRig.h"
#include "WhisperEngineProbe.h"
#include "engine/ColiPid.h"
#include "engine/ModelCheck.h"
#include "engine/WhisperEngine.h"
#include "platform/linux/PosixProcessLauncher.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/SampleRateConverter.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/ThreadQueues.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// The program's one application object, shared with the tests that need a GUI application.
QCoreApplication& application() { return guiApplication(); }

// Alive: the process exists and is not a zombie.
bool alive(pid_t pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray stat = f.readAll();
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0 || close + 2 >= stat.size()) return false;
    const char state = stat.at(close + 2);
    return state != 'Z' && state != 'X';
}

// The real launcher, which can hold one launch on the thread that makes it: until the engine is
// destroyed, or (when the engine's destruction waits for the launch) for half a second.
class HoldingLauncher final : public ProcessLauncher {
public:
    std::shared_ptr<ChildProcess> launch(const LaunchCommand& command, QString* error) override {
        {
            std::unique_lock lock(mutex_);
            if (holdNext_) {
                holdNext_ = false;
                holding_ = true;
                changed_.notify_all();
                changed_.wait_for(lock, std::chrono::milliseconds(500), [this] { return engineGone_; });
                goneWhileHeld_ = engineGone_;
                holding_ = false;
                released_ = true;
                changed_.notify_all();
            }
        }
        return real_.launch(command, error);
    }
    std::optional<RunOutput> run(const QString& executable, const QStringList& arguments, QString* error) override {
        return real_.run(executable, arguments, error);
    }
    void holdNextLaunch() {
        std::lock_guard lock(mutex_);
        holdNext_ = true;
    }
    bool holding() {
        std::lock_guard lock(mutex_);
        return holding_;
    }
    void engineGone() {
        std::lock_guard lock(mutex_);
        engineGone_ = true;
        changed_.notify_all();
    }
    // Waits until the held launch has gone on.
    bool waitReleased() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [this] { return released_; });
    }
    bool goneWhileHeld() {
        std::lock_guard lock(mutex_);
        return goneWhileHeld_;
    }

private:
    PosixProcessLauncher real_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool holdNext_ = false, holding_ = false, released_ = false, engineGone_ = false, goneWhileHeld_ = false;
};

}  // namespace

TEST(SpeechPipeline, AWholeDictationThroughTheStandIn) {
    application();
    StandInRig rig;
    const auto& rt = rig.rt;
    const QString standInLog = rt->dir.path() + QStringLiteral("/standin.log");
    const QString script = rt->dir.path() + QStringLiteral("/script.txt");
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("今天\n今天天气很好\n今天天气很好我们去公园吧\n");
    }
    EnvironmentVariable logVar("COLI_STANDIN_LOG", standInLog.toUtf8());
    EnvironmentVariable scriptVar("COLI_STANDIN_SCRIPT", script.toUtf8());
    EnvironmentVariable pace("COLI_STANDIN_BYTES_PER_LINE", "3200");

    rig.makeEngine();
    auto& engine = rig.engine;
    const FakeCaptureSystem& capture = rig.capture;
    QStringList previews;
    QObject::connect(engine.get(), &WhisperEngine::previewTextChanged, [&](const QString& t) { previews << t; });

    engine->warmUpColi();
    ASSERT_TRUE(waitFor([&] { return startedPids(standInLog).size() == 1; }))
        << rt->log.lines().join(u'\n').toStdString();
    const pid_t first = startedPids(standInLog).first();
    EXPECT_EQ(persistentColiPid.load(), first);
    EXPECT_TRUE(fileLines(standInLog).first().endsWith(
        QStringLiteral("args=asr-stream --json --language auto --asr-interval-ms 300")));

    QStringList completed;
    engine->startRecording([&](const QString& text) { completed << text; });
    EXPECT_TRUE(rt->log.containsPart("[Vocalynx] Reusing persistent coli for session "));
    std::shared_ptr<FakeCaptureSession> microphone;  // the session the warm-up prepared
    ASSERT_TRUE(waitFor([&] { return (microphone = capture.running()) != nullptr; }));
    // One second of microphone buffers: converted on the audio queue and written to the program.
    for (const SampleBuffer& buffer : microphoneSine(440, 1.0)) ASSERT_TRUE(microphone->deliver(buffer));

    ASSERT_TRUE(waitFor([&] { return engine->previewText() == QStringLiteral("今天天气很好我们去公园吧"); }))
        << engine->previewText().toStdString();
    // Hypotheses that arrive faster than the main thread runs reach the panel as the newest one:
    // the panel shows them in order, skipping none but those overtaken.
    const QStringList hypotheses{QString(), QStringLiteral("今天"), QStringLiteral("今天天气很好"),
                                 QStringLiteral("今天天气很好我们去公园吧")};
    qsizetype next = 0;
    for (const QString& shown : previews) {
        next = hypotheses.indexOf(shown, next);
        ASSERT_GE(next, 0) << previews.join(u'|').toStdString();
        ++next;
    }
    EXPECT_EQ(previews.constLast(), hypotheses.constLast());

    engine->stopRecording();
    EXPECT_EQ(engine->state(), RecordingState::transcribing);
    ASSERT_TRUE(waitFor([&] { return !completed.isEmpty(); }, 5000));
    EXPECT_EQ(completed, QStringList{QStringLiteral("今天天气很好我们去公园吧")});
    ASSERT_TRUE(waitFor([&] { return engine->state() == RecordingState::idle; }, 5000));
    const QStringList stopped =
        rt->log.lines().filter(QStringLiteral("[Vocalynx] Recording stopped. Total PCM sent: "));
    ASSERT_EQ(stopped.size(), 1);
    const long long sent = stopped[0].section(u' ', 6, 6).toLongLong();
    EXPECT_GT(sent, 30000) << "about one second of 16 kHz 16-bit audio";
    EXPECT_LE(sent, 32000);
    EXPECT_TRUE(stopped[0].endsWith(QStringLiteral(" bytes, buffered: 0 bytes")));

    // The process that served the dictation got SIGTERM; a fresh one waits for the next.
    ASSERT_TRUE(waitFor([&] { return startedPids(standInLog).size() == 2; }));
    const pid_t second = startedPids(standInLog).at(1);
    EXPECT_NE(second, first);
    EXPECT_TRUE(waitFor([&] { return !alive(first); }));
    EXPECT_TRUE(waitFor([&] { return persistentColiPid.load() == second; }));
    EXPECT_FALSE(rt->log.containsPart("exited, relaunching")) << "the restart removed the exit handler first";

    // Shutdown ends it for good.
    engine->shutdown();
    EXPECT_TRUE(waitFor([&] { return !alive(second); }));
    EXPECT_EQ(persistentColiPid.load(), 0);
    QThread::msleep(1200);  // longer than the relaunch delay: nothing may come back
    QCoreApplication::processEvents();
    EXPECT_EQ(startedPids(standInLog).size(), 2);
    engine.reset();
}

// The speech program dies in the middle of a dictation: the relaunched one takes the dictation over,
// hears the audio of the meantime and the rest, and the text holds what both recognised.
TEST(SpeechPipeline, AProgramKilledMidRecordingLosesNoneOfTheWords) {
    application();
    StandInRig rig;
    const QString log = rig.path("standin.log");
    EnvironmentVariable logVar("COLI_STANDIN_LOG", log.toUtf8());
    EnvironmentVariable counter("COLI_STANDIN_COUNTER", rig.path("starts").toUtf8());
    EnvironmentVariable first("COLI_STANDIN_SCRIPT_1", rig.write("first.txt", "今天\n今天天气很好\n").toUtf8());
    EnvironmentVariable second("COLI_STANDIN_SCRIPT_2", rig.write("second.txt", "我们\n我们去公园吧\n").toUtf8());
    rig.makeEngine();
    rig.engine->warmUpColi();
    ASSERT_TRUE(waitFor([&] { return startedPids(log).size() == 1; })) << rig.logText();

    auto microphone = rig.startDictation();
    StandInRig::speak(*microphone, 0.3);
    ASSERT_TRUE(waitFor([&] { return rig.engine->previewText() == QStringLiteral("今天天气很好"); }))
        << rig.logText();
    ASSERT_EQ(::kill(startedPids(log).first(), SIGKILL), 0);
    ASSERT_TRUE(waitFor([&] { return rig.logged("[Vocalynx] coli exited during the recording of session "); }))
        << rig.logText();
    StandInRig::speak(*microphone, 0.2);  // before the relaunch: kept for it
    ASSERT_TRUE(waitFor([&] { return rig.logged(" continues on the relaunched coli; the text so far is kept"); }))
        << rig.logText();
    EXPECT_TRUE(waitFor([&] { return startedPids(log).size() == 2; }));
    StandInRig::speak(*microphone, 0.2);
    ASSERT_TRUE(waitFor([&] { return rig.engine->previewText() == QStringLiteral("今天天气很好我们去公园吧"); }))
        << rig.engine->previewText().toStdString() << "\n" << rig.logText();
    rig.engine->stopRecording();
    ASSERT_TRUE(waitFor([&] { return !rig.completed.isEmpty(); }, 5000));
    EXPECT_EQ(rig.completed, QStringList{QStringLiteral("今天天气很好我们去公园吧")});
}

// The text arrives before the drain's last steps (replacing the speech program, preparing the next
// microphone session) are done on a pool thread. An engine destroyed right after the text waits for
// those steps instead of letting them run on in a destroyed engine.
TEST(SpeechPipeline, AnEngineDestroyedRightAfterTheTextWaitsForTheDrainsLastSteps) {
    application();
    HoldingLauncher launcher;  // outlives the rig's engine
    StandInRig rig;
    const QString log = rig.path("standin.log");
    EnvironmentVariable logVar("COLI_STANDIN_LOG", log.toUtf8());
    EnvironmentVariable script("COLI_STANDIN_SCRIPT", rig.write("script.txt", "今天天气\n").toUtf8());
    rig.makeEngine(&launcher);
    rig.engine->warmUpColi();
    ASSERT_TRUE(waitFor([&] { return startedPids(log).size() == 1; })) << rig.logText();
    auto microphone = rig.startDictation();
    StandInRig::speak(*microphone, 0.3);
    ASSERT_TRUE(waitFor([&] { return rig.engine->previewText() == QStringLiteral("今天天气"); })) << rig.logText();

    launcher.holdNextLaunch();  // the replacement of the program that heard the dictation
    rig.engine->stopRecording();
    ASSERT_TRUE(waitFor([&] { return !rig.completed.isEmpty(); }, 5000)) << rig.logText();
    EXPECT_EQ(rig.completed, QStringList{QStringLiteral("今天天气")});
    ASSERT_TRUE(waitFor([&] { return launcher.holding(); }, 5000)) << rig.logText();

    rig.engine->shutdown();
    rig.engine.reset();
    launcher.engineGone();
    ASSERT_TRUE(launcher.waitReleased());
    EXPECT_FALSE(launcher.goneWhileHeld()) << "the engine was destroyed while its drain was still replacing the program";
}

// A cancelled dictation's audio and words never reach the next dictation: its program is replaced.
TEST(SpeechPipeline, ACancelledRecordingLeavesNothingForTheNext) {
    application();
    StandInRig rig;
    const QString log = rig.path("standin.log");
    EnvironmentVariable logVar("COLI_STANDIN_LOG", log.toUtf8());
    EnvironmentVariable counter("COLI_STANDIN_COUNTER", rig.path("starts").toUtf8());
    // A program kept after the cancel would go on with its own hypotheses of the cancelled words.
    EnvironmentVariable first("COLI_STANDIN_SCRIPT_1", rig.write("first.txt", "取消的\n取消的那些话\n").toUtf8());
    EnvironmentVariable second("COLI_STANDIN_SCRIPT_2", rig.write("second.txt", "第二次说的话\n").toUtf8());
    rig.makeEngine();
    rig.engine->warmUpColi();
    ASSERT_TRUE(waitFor([&] { return startedPids(log).size() == 1; })) << rig.logText();

    auto cancelled = rig.startDictation();
    StandInRig::speak(*cancelled, 0.15);
    ASSERT_TRUE(waitFor([&] { return rig.engine->previewText() == QStringLiteral("取消的"); })) << rig.logText();
    // The recording is cancelled, as the no-speech rule cancels it.
    WhisperEngine::TestProbe{*rig.engine}.requestCancelRecording();
    ASSERT_TRUE(waitFor([&] { return rig.engine->state() == RecordingState::idle; })) << rig.logText();

    auto next = rig.startDictation();
    StandInRig::speak(*next, 0.3);
    ASSERT_TRUE(waitFor([&] { return !rig.engine->previewText().isEmpty(); })) << rig.logText();
    rig.engine->stopRecording();
    ASSERT_TRUE(waitFor([&] { return !rig.completed.isEmpty(); }, 5000)) << rig.logText();
    EXPECT_EQ(rig.completed, QStringList{QStringLiteral("第二次说的话")});
    const QList<pid_t> pids = startedPids(log);
    ASSERT_GE(pids.size(), 2);
    EXPECT_TRUE(waitFor([&] { return !alive(pids.first()); })) << "the program that heard the cancel is ended";
}

// At the stop the program sees the end of its input, and what it says then is still typed.
TEST(SpeechPipeline, TheLastSegmentAtTheEndOfInputIsTyped) {
    application();
    StandInRig rig;
    const QString log = rig.path("standin.log");
    EnvironmentVariable logVar("COLI_STANDIN_LOG", log.toUtf8());
    EnvironmentVariable script("COLI_STANDIN_SCRIPT", rig.write("script.txt", "今天天气\n").toUtf8());
    EnvironmentVariable final("COLI_STANDIN_FINAL_ON_EOF", "今天天气很好，我们去公园吧。");
    rig.makeEngine();
    rig.engine->warmUpColi();
    ASSERT_TRUE(waitFor([&] { return startedPids(log).size() == 1; })) << rig.logText();
    auto microphone = rig.startDictation();
    StandInRig::speak(*microphone, 0.3);
    ASSERT_TRUE(waitFor([&] { return rig.engine->previewText() == QStringLiteral("今天天气"); })) << rig.logText();
    rig.engine->stopRecording();
    ASSERT_TRUE(waitFor([&] { return !rig.completed.isEmpty(); }, 5000)) << rig.logText();
    EXPECT_EQ(rig.completed, QStringList{QStringLiteral("今天天气很好，我们去公园吧。")});
    EXPECT_TRUE(fileLines(log).contains(QStringLiteral("eof")));
    EXPECT_FALSE(rig.logged("exited, relaunching")) << "ending at the end of input is expected";
}

// The program hears what the microphone heard: a 1 kHz tone from a 48 kHz stereo float
// microphone arrives as 16 kHz mono s16le audio of the same pitch.
TEST(SpeechPipeline, TheProgramHearsTheMicrophonesPitch) {
    application();
    StandInRig rig;
    EnvironmentVariable frequency("COLI_STANDIN_FREQUENCY", "1");
    rig.makeEngine();
    auto& engine = rig.engine;
    const FakeCaptureSystem& capture = rig.capture;
    engine->warmUpColi();
    engine->startRecording([](const QString&) {});
    std::shared_ptr<FakeCaptureSession> microphone;  // the session the warm-up prepared
    ASSERT_TRUE(waitFor([&] { return (microphone = capture.running()) != nullptr; }));
    for (const SampleBuffer& buffer : microphoneSine(1000, 1.2)) ASSERT_TRUE(microphone->deliver(buffer));
    static const QRegularExpression pitch(QStringLiteral("^(\\d+) Hz$"));
    ASSERT_TRUE(waitFor([&] { return pitch.match(engine->previewText()).hasMatch(); }))
        << engine->previewText().toStdString();
    EXPECT_NEAR(pitch.match(engine->previewText()).captured(1).toInt(), 1000, 3);
    engine->shutdown();
    engine.reset();
}

TEST(SpeechPipeline, AProcessThatDiesIsRelaunchedAndAModelFailureStopsThat) {
    application();
    auto rt = std::make_unique<RealRuntime>();
    prepareStandInHome(rt->paths.home);
    const QString standInLog = rt->dir.path() + QStringLiteral("/standin.log");
    EnvironmentVariable logVar("COLI_STANDIN_LOG", standInLog.toUtf8());
    EnvironmentVariable exitAtOnce("COLI_STANDIN_EXIT_AFTER_BYTES", "0");

    ConfigStore config{rt->runtime};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    PosixProcessLauncher launcher;
    int alerts = 0;
    rt->notifications.addObserver(notifications::vocalynxModelLoadFailed, [&](const std::any&) { ++alerts; });
    {
        WhisperEngine engine{{rt->runtime, config, sounds, nullptr, nullptr, nullptr, nullptr, &launcher}};
        engine.warmUpColi();
        // Exiting at once, over and over: one launch a second, not a busy loop.
        QDeadlineTimer window(2500);
        while (!window.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
        const int launches = startedPids(standInLog).size();
        EXPECT_GE(launches, 2);
        EXPECT_LE(launches, 4);
        engine.shutdown();
    }
    {
        // Now the model fails to load: reported once, and the exit that follows is not relaunched.
        EnvironmentVariable failure("COLI_STANDIN_STDERR", "Load model from /x/model.int8.onnx failed");
        const QString failingLog = rt->dir.path() + QStringLiteral("/failing.log");
        EnvironmentVariable failingLogVar("COLI_STANDIN_LOG", failingLog.toUtf8());
        WhisperEngine engine{{rt->runtime, config, sounds, nullptr, nullptr, nullptr, nullptr, &launcher}};
        engine.warmUpColi();
        ASSERT_TRUE(waitFor([&] { return alerts == 1; })) << rt->log.lines().join(u'\n').toStdString();
        QDeadlineTimer window(1500);
        while (!window.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
        EXPECT_EQ(startedPids(failingLog).size(), 1);
        EXPECT_EQ(alerts, 1);
        engine.shutdown();
    }
}

// No speech process outlives the application, however it ends.
TEST(SpeechPipeline, TheSpeechProcessEndsWithTheApplication) {
    for (int signal : {SIGTERM, SIGSEGV, SIGKILL}) {
        SCOPED_TRACE(signal);
        AppProcess app;
        prepareStandInHome(app.home());
        const QString standInLog = app.home() + QStringLiteral("/standin.log");
        app.environment().insert(QStringLiteral("COLI_STANDIN_LOG"), standInLog);
        // Only a signal ends it, not the end of its input when the application's pipe closes.
        app.environment().insert(QStringLiteral("COLI_STANDIN_IGNORE_EOF"), QStringLiteral("1"));
        app.start(QStringLiteral(VOCALYNX_APP_BINARY));
        ASSERT_TRUE(app.waitForLine("[Vocalynx] Persistent coli launched (model loading...)")) << app.output().toStdString();
        ASSERT_TRUE(waitFor([&] { return !startedPids(standInLog).isEmpty(); }));
        const pid_t coli = startedPids(standInLog).first();
        ASSERT_TRUE(alive(coli));
        ::kill(static_cast<pid_t>(app.process().processId()), signal);
        ASSERT_TRUE(app.waitForExit());
        EXPECT_TRUE(waitFor([&] { return !alive(coli); })) << "pid " << coli;
        EXPECT_TRUE(fileLines(standInLog).contains(QStringLiteral("sigterm"))) << "ended by the SIGTERM it was sent";
    }
}

// A recogniser left by an earlier run is ended at launch, also when its parent is a subreaper
// (here this test program) rather than process 1.
TEST(SpeechPipeline, OrphansOfAnEarlierRunAreEndedAtLaunch) {
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    AppProcess app;
    prepareStandInHome(app.home());
    const QString orphanLog = app.home() + QStringLiteral("/orphan.log");
    const QByteArray coliPath = (app.home() + QStringLiteral("/.local/bin/coli")).toUtf8();
    const QByteArray logEnv = "COLI_STANDIN_LOG=" + orphanLog.toUtf8();

    const pid_t middle = ::fork();
    if (middle == 0) {
        if (::fork() == 0) {
            // The stdin of the orphan must stay open, or it would end by itself at end of input.
            int keep[2];
            if (::pipe(keep) == 0) ::dup2(keep[0], STDIN_FILENO);
            char* argv[] = {const_cast<char*>(coliPath.constData()), const_cast<char*>("asr-stream"),
                            const_cast<char*>("--json"), nullptr};
            char* envp[] = {const_cast<char*>(logEnv.constData()), nullptr};
            ::execve(coliPath.constData(), argv, envp);
            ::_exit(127);
        }
        ::_exit(0);  // the recogniser is orphaned and handed to this test program
    }
    int status = 0;
    ::waitpid(middle, &status, 0);
    ASSERT_TRUE(waitFor([&] { return !startedPids(orphanLog).isEmpty(); }));
    const pid_t orphan = startedPids(orphanLog).first();
    ASSERT_TRUE(alive(orphan));

    app.start(QStringLiteral(VOCALYNX_APP_BINARY));
    ASSERT_TRUE(app.waitForLine(QStringLiteral("[Vocalynx] Cleaning orphaned coli process pid=%1").arg(orphan)))
        << app.output().toStdString();
    // It is our child now: reap it to see how it ended.
    QDeadlineTimer deadline(5000);
    pid_t reaped = 0;
    while (!deadline.hasExpired() && (reaped = ::waitpid(orphan, &status, WNOHANG)) == 0) QThread::msleep(10);
    EXPECT_EQ(reaped, orphan);
    EXPECT_TRUE(fileLines(orphanLog).contains(QStringLiteral("sigterm")));
    ::kill(static_cast<pid_t>(app.process().processId()), SIGTERM);
    EXPECT_TRUE(app.waitForExit());
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}
