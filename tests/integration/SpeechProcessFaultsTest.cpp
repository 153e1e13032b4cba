// The speech process against a misbehaving speech program, through the real launcher: a program that
// stops reading its input, one that floods its standard error, and what a replaced process leaves
// behind (threads, descriptors, CPU time), in the engine alone and in the whole application after a
// run of dictations.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>

#include "AppProcess.h"
#include "FakeCapture.h"
#include "FakeSoundOutput.h"
#include "LiveRuntime.h"
#include "RecordingLogger.h"
#include "TestRuntime.h"
#include "StandInRig.h"
#include "TestSoundServer.h"
#include "ToneAnalysis.h"
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

// What a process holds: its threads and open descriptors (0: this process).
struct Holdings {
    int threads = 0;
    int descriptors = 0;
    bool operator==(const Holdings&) const = default;
};
Holdings holdings(qint64 pid = 0) {
    const QString root = pid > 0 ? QStringLiteral("/proc/%1").arg(pid) : QStringLiteral("/proc/self");
    const QDir tasks(root + QStringLiteral("/task"));
    const QDir descriptors(root + QStringLiteral("/fd"));
    return {static_cast<int>(tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size()),
            static_cast<int>(descriptors.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size())};
}
std::ostream& operator<<(std::ostream& out, const Holdings& h) {
    return out << h.threads << " threads, " << h.descriptors << " descriptors";
}

// The names of a process's threads, sorted.
QStringList threadNames(qint64 pid) {
    const QString tasks = QStringLiteral("/proc/%1/task/").arg(pid);
    QStringList names;
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks + task + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly)) names << QString::fromUtf8(comm.readAll().trimmed());
    }
    names.sort();
    return names;
}

// What a process's descriptors point at, with numbers left out ("pipe:[]", "socket:[]"), sorted.
QStringList descriptorTargets(qint64 pid) {
    static const QRegularExpression number(QStringLiteral("\\d+"));
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    QStringList targets;
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot))
        targets << QFile::symLinkTarget(fds.filePath(fd)).section(u'/', -1).remove(number);
    targets.sort();
    return targets;
}

// The media names of the playback streams a process has open on the sound server.
QStringList playbackStreams(qint64 pid) {
    QStringList names;
    const QString ownId = QStringLiteral("application.process.id = \"%1\"").arg(pid);
    for (const QString& block : pactl({"list", "sink-inputs"}).split(QStringLiteral("Sink Input #"))) {
        if (!block.contains(ownId)) continue;
        static const QRegularExpression name(QStringLiteral("media.name = \"([^\"]*)\""));
        names << name.match(block).captured(1);
    }
    names.sort();
    return names;
}

// User and system CPU time of a process, in seconds.
double cpuSeconds(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

}  // namespace

// A process that has exited holds no reader thread and no descriptor, even while its handle is
// kept and no read handler was ever set; what it wrote before it ended still reaches a handler set
// afterwards.
TEST(SpeechProcessFaults, AnExitedProcessLeavesNoReaderBehind) {
    PosixProcessLauncher launcher;
    QTemporaryDir dir;
    LaunchCommand command{standInProgram(), {QStringLiteral("asr-stream")}, {}};
    command.environment.insert(QStringLiteral("COLI_STANDIN_LOG"), dir.path() + QStringLiteral("/standin.log"));
    command.environment.insert(QStringLiteral("COLI_STANDIN_STDERR"), QStringLiteral("before the end"));
    command.environment.insert(QStringLiteral("COLI_STANDIN_EXIT_AFTER_BYTES"), QStringLiteral("0"));
    const Holdings before = holdings();
    QString error;
    std::shared_ptr<ChildProcess> child = launcher.launch(command, &error);
    ASSERT_TRUE(child) << error.toStdString();
    ASSERT_TRUE(waitFor([&] { return !child->isRunning(); }));
    EXPECT_TRUE(waitFor([&] { return holdings() == before; }, 3000))
        << "before: " << before << "; with the exited process's handle: " << holdings();

    std::mutex mutex;
    QByteArray received;
    child->standardError()->setReadHandler([&](const QByteArray& bytes) {
        std::lock_guard lock(mutex);
        received += bytes;
    });
    EXPECT_TRUE(waitFor([&] {
        std::lock_guard lock(mutex);
        return received == "before the end\n";
    }, 3000)) << received.toStdString();
    child->standardError()->setReadHandler(nullptr);
    child.reset();
    EXPECT_TRUE(waitFor([&] { return holdings() == before; }, 3000)) << holdings();
}

// Writing to a program that never reads returns at once: what the pipe cannot take waits in a
// bounded backlog, the rest is refused, and closing the input does not wait.
TEST(SpeechProcessFaults, WritesToAProgramThatNeverReadsNeverBlock) {
    PosixProcessLauncher launcher;
    QTemporaryDir dir;
    const QString log = dir.path() + QStringLiteral("/standin.log");
    LaunchCommand command{standInProgram(), {QStringLiteral("asr-stream")}, {}};
    command.environment.insert(QStringLiteral("COLI_STANDIN_LOG"), log);
    command.environment.insert(QStringLiteral("COLI_STANDIN_STOP_READING"), QStringLiteral("0"));
    QString error;
    std::shared_ptr<ChildProcess> child = launcher.launch(command, &error);
    ASSERT_TRUE(child) << error.toStdString();
    ASSERT_TRUE(waitFor([&] { return fileLines(log).contains(QStringLiteral("stopped reading")); }));

    std::shared_ptr<PipeWriter> input = child->standardInput();
    std::atomic<bool> done{false};
    std::atomic<int> accepted{0}, refused{0};
    std::thread writer([&] {
        const QByteArray chunk(32 * 1024, 'a');  // a second of audio
        for (int i = 0; i < 200; ++i) (input->write(chunk) ? accepted : refused)++;
        input->close();
        done = true;
    });
    const bool returned = waitFor([&] { return done.load(); }, 5000);
    EXPECT_TRUE(returned) << "the writes blocked";
    if (!returned) child->terminate();  // the pipe breaks and the blocked write returns
    writer.join();
    EXPECT_GT(accepted.load(), 2) << "the pipe and the backlog take some";
    EXPECT_LT(accepted.load(), 100) << "the backlog is bounded";
    EXPECT_EQ(accepted + refused, 200);
    EXPECT_FALSE(input->write("x")) << "closed";
    child->terminate();
    EXPECT_TRUE(waitFor([&] { return !child->isRunning(); }));
}

// A program that stops reading its input neither stalls the audio queue nor the end of the
// dictation: the process is ended, and the next dictation gets a fresh one whose audio arrives.
TEST(SpeechProcessFaults, AProgramThatStopsReadingCostsOnlyItsOwnDictation) {
    StandInRig rig;
    const QString standInLog = rig.rt->dir.path() + QStringLiteral("/standin.log");
    EnvironmentVariable logVar("COLI_STANDIN_LOG", standInLog.toUtf8());
    EnvironmentVariable stop("COLI_STANDIN_STOP_READING", "16000");  // half a second, then no more
    rig.makeEngine();
    rig.engine->warmUpColi();
    ASSERT_TRUE(waitFor([&] { return startedPids(standInLog).size() == 1; }));

    for (int dictation = 1; dictation <= 2; ++dictation) {
        SCOPED_TRACE(dictation);
        auto microphone = rig.startDictation();
        ASSERT_TRUE(microphone);
        StandInRig::speak(*microphone, 40.0);  // more than the pipe and the backlog hold
        ASSERT_TRUE(
            waitFor([&] { return fileLines(standInLog).count(QStringLiteral("stopped reading")) == dictation; }));
        waitFor([] { return false; }, 1500);  // the audio queue writes the rest meanwhile
        rig.engine->stopRecording();
        ASSERT_TRUE(waitFor([&] { return rig.engine->state() == RecordingState::idle; }, 8000))
            << rig.rt->log.lines().join(u'\n').toStdString();
        EXPECT_TRUE(waitFor([&] { return fileLines(standInLog).count(QStringLiteral("sigterm")) == dictation; }))
            << "the process that stopped reading was ended";
        ASSERT_TRUE(waitFor([&] { return startedPids(standInLog).size() == dictation + 1; }));
    }
    EXPECT_FALSE(rig.rt->log.containsPart("no-speech timeout")) << rig.rt->log.lines().join(u'\n').toStdString();
    EXPECT_EQ(rig.rt->log.countPart("[Vocalynx] Recording stopped. Total PCM sent: "), 2);
    EXPECT_EQ(rig.rt->log.countPart("did not read its input: dropped "), 2)
        << rig.rt->log.lines().join(u'\n').toStdString();
}

// A standard-error flood leaves a log of bounded size, and the model failure written after it is
// still recognised.
TEST(SpeechProcessFaults, AStandardErrorFloodIsLoggedBoundedAndAModelFailureStillCounts) {
    StandInRig rig;
    const QString standInLog = rig.rt->dir.path() + QStringLiteral("/standin.log");
    EnvironmentVariable logVar("COLI_STANDIN_LOG", standInLog.toUtf8());
    EnvironmentVariable flood("COLI_STANDIN_STDERR_FLOOD", "300000");  // 8 MB
    EnvironmentVariable failure("COLI_STANDIN_STDERR", "Load model from /x/model.int8.onnx failed");
    EnvironmentVariable stop("COLI_STANDIN_STOP_READING", "0");  // stays running after the flood
    int alerts = 0;
    rig.rt->notifications.addObserver(notifications::vocalynxModelLoadFailed, [&](const std::any&) { ++alerts; });
    rig.makeEngine();
    rig.engine->warmUpColi();
    ASSERT_TRUE(waitFor([&] { return fileLines(standInLog).contains(QStringLiteral("stopped reading")); }, 20000));
    EXPECT_TRUE(waitFor([&] { return alerts == 1; })) << "the failure after the flood was seen";
    EXPECT_TRUE(waitFor([&] { return rig.rt->log.containsPart(" not logged: more than "); }, 3000))
        << "what was left out is counted";
    rig.engine->shutdown();
    const QStringList lines = rig.rt->log.lines().filter(QStringLiteral("[Vocalynx] coli stderr"));
    qsizetype bytes = 0;
    for (const QString& line : lines) bytes += line.size();
    EXPECT_LE(lines.size(), 200) << "lines of the flood that were logged";
    EXPECT_LE(bytes, 60'000);
    EXPECT_TRUE(rig.rt->log.containsPart("Load model from /x/model.int8.onnx failed")) << "logged past the cap";
}

namespace {

// The whole application under the test services, with the stand-in as its speech program and a
// tone at the test microphone, driven by presses of its own media player's play/pause.
class AppDictations : public ::testing::Test {
protected:
    void SetUp() override {
        app.finishOnboarding();
        prepareStandInHome(app.home());
        {
            QFile f(app.home() + QStringLiteral("/script.txt"));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("hello\nhello world\n");
        }
        app.environment().insert(QStringLiteral("COLI_STANDIN_SCRIPT"), app.home() + QStringLiteral("/script.txt"));
        app.environment().insert(QStringLiteral("COLI_STANDIN_LOG"), app.home() + QStringLiteral("/standin.log"));
        QStringList toneArguments{QStringLiteral("--playback"),        QStringLiteral("--device=vocalynx_sink"),
                                  QStringLiteral("--format=float32le"), QStringLiteral("--rate=48000"),
                                  QStringLiteral("--channels=2"),       QStringLiteral("--raw")};
        if (toneLatencyMs > 0) toneArguments << QStringLiteral("--latency-msec=%1").arg(toneLatencyMs);
        // From a file: the player reads it at its own pace, whatever this thread waits for.
        const QString toneFile = app.home() + QStringLiteral("/tone.raw");
        {
            QFile f(toneFile);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(toneBuffer(440, 48000 * 120, 48000, 2, SampleFormat::float32, 0, 0.5).bytes);
        }
        tone.setStandardInputFile(toneFile);
        tone.start(QStringLiteral("pacat"), toneArguments);
        ASSERT_TRUE(tone.waitForStarted(5000));
        app.start(QStringLiteral(VOCALYNX_APP_BINARY));
        ASSERT_TRUE(app.waitForLine("[Vocalynx] Persistent coli launched (model loading...)"))
            << app.output().toStdString();
    }
    void TearDown() override {
        tone.kill();
        tone.waitForFinished(5000);
    }
    // The latency the tone's player asks of the sound server; 0 leaves it to the server, as most
    // players do (then the sink mixes about two seconds at a time until someone asks for less).
    int toneLatencyMs = 50;

    qint64 pid() { return app.process().processId(); }
    void pressPlayPause() {
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            QStringLiteral("org.mpris.MediaPlayer2.vocalynx"), QStringLiteral("/org/mpris/MediaPlayer2"),
            QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("PlayPause")));
    }
    int count(const QString& part) { return app.output().count(part); }
    bool waitForCount(const char* part, int n, int timeoutMs = 15000) {
        const QString text = QString::fromUtf8(part);
        QDeadlineTimer deadline(timeoutMs);
        while (count(text) < n) {
            if (app.process().state() == QProcess::NotRunning) {
                app.waitForExit(1000);  // reads what it printed last
                ADD_FAILURE() << "the application ended: "
                              << (app.process().exitStatus() == QProcess::CrashExit ? "signal " : "exit code ")
                              << app.process().exitCode();
                return false;
            }
            if (deadline.hasExpired()) return false;
            app.waitForLine(QStringLiteral("\x01 never printed"), 100);
        }
        return true;
    }
    // The n-th dictation of the run, from the press that starts it until the panel is idle and the
    // next speech process is running.
    void dictation(int n) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(waitForCount("[Vocalynx] Recording started", n - 1));
        pressPlayPause();
        ASSERT_TRUE(waitForCount("[Vocalynx] Recording started", n)) << app.output().toStdString();
        ASSERT_TRUE(waitForCount("micReady", n)) << app.output().toStdString();
        QThread::msleep(300);
        pressPlayPause();
        ASSERT_TRUE(waitForCount("[Vocalynx] Keyboard injection done (11 chars)", n)) << app.output().toStdString();
        ASSERT_TRUE(waitForCount("state collapsing -> idle", n)) << app.output().toStdString();
        ASSERT_TRUE(waitForCount("[Vocalynx] Persistent coli launched", n + 1));
        // The process that served it has ended.
        const QList<pid_t> pids = startedPids(app.home() + QStringLiteral("/standin.log"));
        ASSERT_EQ(pids.size(), n + 1);
        ASSERT_TRUE(waitFor([&] { return !QFile::exists(QStringLiteral("/proc/%1").arg(pids[n - 1])); }));
    }
    // What the application holds once no dictation work is left: no input flusher; the readers
    // and the reaper of the one running speech process only (none of an ended one); the silent
    // loop playing again and no cue stream open; and all that unchanged for half a second.
    // Fails when that state is not reached. Qt's pooled worker threads (Qt scales and converts
    // large images on them) are left out with the event-loop wake-up descriptor each holds: how
    // many a dictation's painting starts depends on the machine's load, at most the pool's
    // maximum, and each ends 30 s after its last task.
    Holdings idleHoldings() {
        auto idle = [&] {
            const QStringList threads = threadNames(pid());
            const QStringList streams = playbackStreams(pid());
            return !threads.contains(QStringLiteral("vocalynx.flush")) &&
                   threads.count(QStringLiteral("vocalynx.read")) == 2 &&
                   threads.count(QStringLiteral("vocalynx.reap")) == 1 &&
                   streams.contains(QStringLiteral("Vocalynx silent loop")) &&
                   streams.filter(QStringLiteral("QtmPulseStream")).isEmpty();
        };
        QDeadlineTimer deadline(30000);
        Holdings last{-1, -1};
        while (!deadline.hasExpired()) {
            Holdings now = idle() ? holdings(pid()) : Holdings{-1, -1};
            const int pooled = static_cast<int>(threadNames(pid()).count(QStringLiteral("Thread (pooled)")));
            EXPECT_LE(pooled, QThread::idealThreadCount()) << describe();
            if (now.threads >= 0) now = {now.threads - pooled, now.descriptors - pooled};
            if (now.threads >= 0 && now == last) return now;
            last = now;
            app.waitForLine(QStringLiteral("\x01 never printed"), 500);
        }
        ADD_FAILURE() << "no dictation work left was never reached:\n" << describe();
        return holdings(pid());
    }
    // The application's threads, descriptors and playback streams, for a failure message.
    std::string describe() {
        return (QStringLiteral("threads: ") + threadNames(pid()).join(QStringLiteral(", ")) +
                QStringLiteral("\ndescriptors: ") + descriptorTargets(pid()).join(QStringLiteral(", ")) +
                QStringLiteral("\nplayback streams: ") + playbackStreams(pid()).join(QStringLiteral(", ")))
            .toStdString();
    }
    // CPU time of the application over the given time, as a share of one core.
    double cpuShare(int milliseconds) {
        const double start = cpuSeconds(pid());
        QDeadlineTimer window(milliseconds);
        while (!window.hasExpired()) app.waitForLine(QStringLiteral("\x01 never printed"), 200);
        return (cpuSeconds(pid()) - start) / (milliseconds / 1000.0);
    }

    ForkedProcess tone;
    AppProcess app;
};

// The same, with the tone played at the server's default latency since before the launch.
class AppDictationsWithADefaultLatencyTone : public AppDictations {
protected:
    AppDictationsWithADefaultLatencyTone() { toneLatencyMs = 0; }
};

}  // namespace

// After one dictation the application does not spin (a fault check with a generous bound, not a
// speed figure: the benchmark measures that), and ten dictations in a row leave no more threads and
// exactly the descriptors that one did.
TEST_F(AppDictations, AfterDictationsTheApplicationIdlesAndHoldsNoMore) {
    dictation(1);
    if (HasFatalFailure()) return;
    const Holdings afterFirst = idleHoldings();
    const std::string firstDetail = describe();
    const double share = cpuShare(3000);
    EXPECT_LT(share, 0.20) << "share of one core over 3 s after one dictation";
    for (int n = 2; n <= 10; ++n) {
        dictation(n);
        if (HasFatalFailure()) return;
    }
    Holdings afterTenth = idleHoldings();
    // The tenth may hold fewer threads than the first, never more, nor any other number of
    // descriptors.
    EXPECT_LE(afterTenth.threads, afterFirst.threads)
        << afterTenth << " against " << afterFirst << "\nafter the tenth:\n" << describe() << "\nafter the first:\n" << firstDetail;
    EXPECT_EQ(afterTenth.descriptors, afterFirst.descriptors)
        << afterTenth << " against " << afterFirst << "\nafter the tenth:\n" << describe() << "\nafter the first:\n" << firstDetail;
    EXPECT_LT(cpuShare(3000), 0.20) << "after ten dictations";
}

// A tone that a player started at the server's default latency before the launch leaves the test
// sink mixing seconds at a time; once the application's capture holds the sink short and what was
// mixed ahead has played out, the first dictations after the launch hear the microphone from the
// press: three 1 s dictations each send at least 0.85 s of 16 kHz 16-bit mono audio.
TEST_F(AppDictationsWithADefaultLatencyTone, ShortDictationsRightAfterTheLaunchHearTheMicrophone) {
    const bool drained = waitFor([] { return testSinkLatency().drained(); }, 10000);
    const SinkLatency latency = testSinkLatency();
    std::printf("the sink mixes %.0f ms ahead (%.0f ms asked)%s before the first dictation\n", latency.aheadMs,
                latency.configuredMs, drained ? "" : ", not yet drained,");
    static const QRegularExpression sent(QStringLiteral("\\[Vocalynx\\] Recording stopped\\. Total PCM sent: (\\d+) bytes"));
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        QElapsedTimer sincePress;
        sincePress.start();
        pressPlayPause();
        ASSERT_TRUE(waitForCount("[Vocalynx] Recording started", n, 3000)) << app.output().toStdString();
        QThread::msleep(static_cast<unsigned long>(std::max<qint64>(0, 1000 - sincePress.elapsed())));
        pressPlayPause();
        ASSERT_TRUE(waitForCount("[Vocalynx] Recording stopped. Total PCM sent: ", n)) << app.output().toStdString();
        QList<long long> bytes;
        for (auto it = sent.globalMatch(app.output()); it.hasNext();) bytes << it.next().captured(1).toLongLong();
        ASSERT_EQ(bytes.size(), n);
        std::printf("dictation %d sent %lld bytes\n", n, bytes.constLast());
        EXPECT_GE(bytes.constLast(), 27'200) << "0.85 s of 16 kHz 16-bit mono\n" << app.output().toStdString();
        ASSERT_TRUE(waitForCount("state collapsing -> idle", n)) << app.output().toStdString();
        ASSERT_TRUE(waitForCount("[Vocalynx] Persistent coli launched", n + 1)) << app.output().toStdString();
    }
}

// A press with no speech program found starts no recording and opens one alert, however often it
// is pressed while that alert is open; once the program is installed the next press records,
// without a restart.
TEST(SpeechProgramMissing, PressesOpenOneAlertAndRecordNothingUntilTheProgramIsThere) {
    AppProcess app;
    app.finishOnboarding();
    ASSERT_TRUE(installSpeechModel(app.home()));
    app.environment().insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));  // no coli on it
    app.start(QStringLiteral(VOCALYNX_APP_BINARY));
    ASSERT_TRUE(app.waitForLine("Sentry disabled")) << app.output().toStdString();
    auto press = [] {
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            QStringLiteral("org.mpris.MediaPlayer2.vocalynx"), QStringLiteral("/org/mpris/MediaPlayer2"),
            QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("PlayPause")));
    };
    const QString refused = QStringLiteral("[Vocalynx] coli not found; not recording");
    // The application's player may take a moment to appear on the bus.
    QDeadlineTimer deadline(15000);
    while (!app.output().contains(refused) && !deadline.hasExpired()) {
        press();
        app.waitForLine(refused, 500);
    }
    ASSERT_TRUE(app.output().contains(refused)) << app.output().toStdString();
    // Two more single presses while the alert is open, each after the press window has closed.
    for (int n = 2; n <= 3; ++n) {
        app.waitForLine(QStringLiteral("\x01 never printed"), 1200);
        press();
        ASSERT_TRUE(waitFor([&] {
            app.waitForLine(QStringLiteral("\x01 never printed"), 100);
            return app.output().count(refused) >= n;
        })) << app.output().toStdString();
    }
    // One alert (alerts are 440 wide) among the application's windows.
    auto visibleAlerts = [] {
        ForkedProcess p;
        p.start(QStringLiteral("sh"), {QStringLiteral("-c"),
                                       QStringLiteral("for w in $(xdotool search --onlyvisible --class vocalynx); do "
                                                      "xwininfo -id $w; done")});
        p.waitForFinished(10000);
        return QString::fromLocal8Bit(p.readAllStandardOutput()).count(QStringLiteral("Width: 440\n"));
    };
    EXPECT_TRUE(waitFor([&] { return visibleAlerts() == 1; })) << visibleAlerts();
    QThread::msleep(500);  // no further alert follows
    EXPECT_EQ(visibleAlerts(), 1);
    EXPECT_FALSE(app.output().contains(QStringLiteral("[Vocalynx] Recording started")));

    prepareStandInHome(app.home());
    press();
    EXPECT_TRUE(app.waitForLine("[Vocalynx] Recording started")) << app.output().toStdString();
    ::kill(static_cast<pid_t>(app.process().processId()), SIGTERM);
    EXPECT_TRUE(app.waitForExit());
}
