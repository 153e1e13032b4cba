// Idle cost of keeping the headset gestures ready: the silent looping player, the per-second
// now-playing heartbeat and our MPRIS player on the session bus, with nothing else happening.
//
// Run it under the private services (source scripts/test-services.sh; start_test_services):
//   build/tests/bench/bench_gesture_idle_cost [seconds=60] [--app [path to vocalynx]]
//   build/tests/bench/bench_gesture_idle_cost [seconds=60] --after-dictations [count=1] [path to vocalynx]
// By default it runs the gesture engine alone in this process, on the real adapters, and measures
// this process. With --app it starts the whole application instead and measures that process
// (every other subsystem's idle work included). After 5 s to settle, it reads user and system
// CPU time from /proc/<pid>/stat at the start and at the end of the window, and prints the figure;
// it judges nothing. With --after-dictations it starts the whole application with the test suite's
// stand-in speech program and a tone at the test microphone, drives that many dictations through
// presses of the application's own media player, and measures once they are over (the application
// replaces its speech process after every dictation), printing the threads and descriptors it
// held after the first dictation and after the last.

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <map>
#include <optional>
#include <thread>
#include <time.h>

#include "AppProcess.h"
#include "RecordingLogger.h"
#include "ToneAnalysis.h"
#include "core/PreferencesDomain.h"
#include "engine/ModelCheck.h"
#include "gestures/GestureEngine.h"
#include "platform/linux/MprisPlayerService.h"
#include "platform/linux/PulseAudioPlayback.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/ThreadQueues.h"

using namespace vocalynx;

namespace {

// utime + stime of a process, in clock ticks; -1 when it cannot be read.
long long cpuTicks(qint64 pid) {
    QFile f(pid > 0 ? QStringLiteral("/proc/%1/stat").arg(pid) : QStringLiteral("/proc/self/stat"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command name (which may hold spaces) start after the last ')'.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return -1;
    return fields[11].toLongLong() + fields[12].toLongLong();  // fields 14 and 15 of stat
}

// Voluntary context switches of all the process's threads: how often its threads went to sleep
// and were woken again, which on a virtual machine costs far more than the work they then do.
long long wakeUps(qint64 pid) {
    const QString root = pid > 0 ? QStringLiteral("/proc/%1/task").arg(pid) : QStringLiteral("/proc/self/task");
    long long total = 0;
    for (const QString& task : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(root + QLatin1Char('/') + task + QStringLiteral("/status"));
        if (!f.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:")) total += line.mid(24).trimmed().toLongLong();
    }
    return total;
}

void report(const char* what, long long ticks, double wallSeconds) {
    const double cpuSeconds = double(ticks) / double(sysconf(_SC_CLK_TCK));
    std::printf("%-34s cpu %.3f s over %.1f s wall = %.3f %% of one core\n", what, cpuSeconds, wallSeconds,
                100.0 * cpuSeconds / wallSeconds);
}

// ---- per-thread breakdown and the bare 20 Hz loop (reference in the same window) ----

struct ThreadSample {
    QString name;
    long long wakeUps = 0;  // voluntary context switches
    long long runNs = 0;    // time on a CPU (schedstat)
};

// Every thread of pid (0: this process) by thread id.
std::map<qint64, ThreadSample> threadSamples(qint64 pid) {
    const QString root = pid > 0 ? QStringLiteral("/proc/%1/task").arg(pid) : QStringLiteral("/proc/self/task");
    std::map<qint64, ThreadSample> out;
    for (const QString& task : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        ThreadSample sample;
        QFile status(root + QLatin1Char('/') + task + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Name:")) sample.name = QString::fromUtf8(line.mid(5).trimmed());
            if (line.startsWith("voluntary_ctxt_switches:")) sample.wakeUps = line.mid(24).trimmed().toLongLong();
        }
        QFile schedstat(root + QLatin1Char('/') + task + QStringLiteral("/schedstat"));
        if (schedstat.open(QIODevice::ReadOnly)) sample.runNs = schedstat.readAll().split(' ').value(0).toLongLong();
        out[task.toLongLong()] = sample;
    }
    return out;
}

// Prints, per thread, the wake-ups per second and the share of one core over the window.
void printThreadBreakdown(const std::map<qint64, ThreadSample>& before, const std::map<qint64, ThreadSample>& after,
                          double seconds) {
    std::printf("  per thread (wake-ups/s, %% of one core):\n");
    long long totalNs = 0;
    for (const auto& [tid, end] : after) {
        const auto it = before.find(tid);
        const ThreadSample start = it != before.end() ? it->second : ThreadSample{end.name, 0, 0};
        const double wakes = double(end.wakeUps - start.wakeUps) / seconds;
        const double share = 100.0 * double(end.runNs - start.runNs) / 1e9 / seconds;
        totalNs += end.runNs - start.runNs;
        std::printf("    %-7lld %-16s %6.1f /s %7.3f %%%s\n", static_cast<long long>(tid), qPrintable(end.name), wakes,
                    share, it == before.end() ? "  (started in the window)" : "");
    }
    for (const auto& [tid, start] : before)
        if (!after.count(tid)) std::printf("    %-7lld %-16s ended in the window\n", static_cast<long long>(tid), qPrintable(start.name));
    // The threads' run time to the nanosecond (the figure above counts whole clock ticks).
    std::printf("  all threads: %.3f %% of one core by their run time\n", 100.0 * double(totalNs) / 1e9 / seconds);
}

// A thread that does nothing but wake up 20 times a second: the floor that any program with a
// 0.05 s poll pays on this machine, measured alongside in the same window.
class BareLoop {
public:
    BareLoop() : thread_([this] { run(); }) {
        while (tid_.load() == 0) std::this_thread::yield();
    }
    ~BareLoop() {
        stop_ = true;
        thread_.join();
    }
    ThreadSample sample() const { return threadSamples(0)[tid_.load()]; }

private:
    void run() {
        tid_ = gettid();
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        while (!stop_) {
            next.tv_nsec += 50'000'000;
            if (next.tv_nsec >= 1'000'000'000) next.tv_nsec -= 1'000'000'000, ++next.tv_sec;
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
    }
    std::atomic<bool> stop_{false};
    std::atomic<pid_t> tid_{0};
    std::thread thread_;
};

void reportBareLoop(const ThreadSample& start, const ThreadSample& end, double seconds) {
    std::printf("%-34s %.3f %% of one core, %.1f wake-ups per second\n", "bare 20 Hz loop (same window)",
                100.0 * double(end.runNs - start.runNs) / 1e9 / seconds, double(end.wakeUps - start.wakeUps) / seconds);
}

// Runs the event loop for the given time.
void runFor(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

// Measures pid (0: this process) over the window while the event loop runs, with the sound
// server alongside for reference.
int measure(const char* what, qint64 pid, int window, const std::function<void()>& pump) {
    const qint64 pulse = qEnvironmentVariableIntValue("VOCALYNX_PULSE_PID");
    // Only beside another process: in this one the loop would count towards the figure.
    std::optional<BareLoop> bare;
    if (pid > 0) bare.emplace();
    const ThreadSample bareStart = bare ? bare->sample() : ThreadSample{};
    const std::map<qint64, ThreadSample> threadsStart = threadSamples(pid);
    const long long start = cpuTicks(pid);
    const long long wakeStart = wakeUps(pid);
    const long long pulseStart = pulse > 0 ? cpuTicks(pulse) : -1;
    QElapsedTimer wall;
    wall.start();
    while (wall.elapsed() < window * 1000LL) pump();
    const long long end = cpuTicks(pid);
    const long long wakeEnd = wakeUps(pid);
    const long long pulseEnd = pulse > 0 ? cpuTicks(pulse) : -1;
    const std::map<qint64, ThreadSample> threadsEnd = threadSamples(pid);
    const ThreadSample bareEnd = bare ? bare->sample() : ThreadSample{};
    const double seconds = wall.elapsed() / 1000.0;
    if (start < 0 || end < 0) {
        std::fprintf(stderr, "the measured process ended during the window\n");
        return 1;
    }
    report(what, end - start, seconds);
    std::printf("%-34s %.1f per second (all threads)\n", "wake-ups", double(wakeEnd - wakeStart) / seconds);
    printThreadBreakdown(threadsStart, threadsEnd, seconds);
    if (bare) reportBareLoop(bareStart, bareEnd, seconds);
    if (pulseStart >= 0 && pulseEnd >= 0) report("sound server (for reference)", pulseEnd - pulseStart, seconds);
    return 0;
}

int measureGestureEngine(int window) {
    SystemClock clock;
    QtMainQueue main;
    ThreadQueueFactory queues;
    NotificationCenter notifications;
    StdoutLogger log;
    Diagnostics diagnostics{log};
    InfoDictionary info = InfoDictionary::fromBuild();
    QTemporaryDir temp;
    Paths paths = Paths::fromEnvironment();
    paths.temp = temp.path();
    Runtime runtime{clock, main, queues, notifications, log, diagnostics, info, paths};
    MprisPlayerService mpris{log};
    PulseAudioPlayback audio;
    GestureEngine engine{{runtime, mpris, mpris, audio}};
    engine.startListening();
    runFor(5);
    return measure("gesture engine alone (idle)", 0, window, [] { runFor(1); });
}

// A home of its own, with neither the first-run guide nor the what's-new window opening, so that
// what is measured is the idle application.
void prepareQuietLaunch(test::AppProcess& app) {
    app.environment().insert(QStringLiteral("TMPDIR"), app.home());
    app.finishOnboarding();
    test::RecordingLogger quiet;
    StandardDefaults(app.home() + QStringLiteral("/.config/vocalynx"), quiet)
        .setLastSeenWhatsNew(InfoDictionary::fromBuild().string(InfoDictionary::kShortVersion));
}

int measureApplication(int window, const QString& binary) {
    test::AppProcess app;
    prepareQuietLaunch(app);
    app.start(binary);
    if (!app.waitForLine(QStringLiteral("[Vocalynx] Silent AVAudioPlayer running: "))) {
        std::fprintf(stderr, "the application did not start:\n%s\n", qPrintable(app.output()));
        return 1;
    }
    QThread::sleep(5);  // let the launch settle
    // The application's output is drained now and then so that its pipe never fills.
    const int status = measure("whole application (idle)", app.process().processId(), window,
                               [&app] { app.waitForLine(QStringLiteral("\x01 never printed"), 1000); });
    std::printf("%s\n", qPrintable(app.output().trimmed()));
    return status;
}

// ---- after dictations ----

QString holdingsText(qint64 pid) {
    const QString root = QStringLiteral("/proc/%1").arg(pid);
    return QStringLiteral("%1 threads, %2 descriptors")
        .arg(QDir(root + QStringLiteral("/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size())
        .arg(QDir(root + QStringLiteral("/fd")).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size());
}

int measureAfterDictations(int window, int dictations, const QString& binary) {
    test::AppProcess app;
    prepareQuietLaunch(app);
    // The stand-in speech program where the application looks for it, and a model file it accepts.
    const QString home = app.home();
    QDir().mkpath(home + QStringLiteral("/.local/bin"));
    QFile::link(QStringLiteral(VOCALYNX_TEST_TOOLS_DIR "/coli_standin"), home + QStringLiteral("/.local/bin/coli"));
    const QString model = speechModelPath(home);
    QDir().mkpath(QFileInfo(model).path());
    {
        QFile f(model);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(200'000'000)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(model));
            return 1;
        }
        QFile script(home + QStringLiteral("/script.txt"));
        if (!script.open(QIODevice::WriteOnly)) return 1;
        script.write("hello\nhello world\n");
    }
    app.environment().insert(QStringLiteral("COLI_STANDIN_SCRIPT"), home + QStringLiteral("/script.txt"));
    // A tone at the test microphone for as long as the dictations may take.
    QProcess tone;
    tone.start(QStringLiteral("pacat"),
               {QStringLiteral("--playback"), QStringLiteral("--device=vocalynx_sink"),
                QStringLiteral("--format=float32le"), QStringLiteral("--rate=48000"), QStringLiteral("--channels=2"),
                QStringLiteral("--raw"), QStringLiteral("--latency-msec=50")});
    if (!tone.waitForStarted(5000)) {
        std::fprintf(stderr, "pacat did not start: are the test services running?\n");
        return 1;
    }
    tone.write(test::toneBuffer(440, 48000 * (20 + 8 * dictations), 48000, 2, SampleFormat::float32, 0, 0.5).bytes);
    tone.closeWriteChannel();

    app.start(binary);
    if (!app.waitForLine(QStringLiteral("[Vocalynx] Silent AVAudioPlayer running: "))) {
        std::fprintf(stderr, "the application did not start:\n%s\n", qPrintable(app.output()));
        return 1;
    }
    const auto waitForCount = [&app](const QString& part, int n) {
        QDeadlineTimer deadline(20000);
        while (app.output().count(part) < n) {
            if (deadline.hasExpired() || app.process().state() == QProcess::NotRunning) return false;
            app.waitForLine(QStringLiteral("\x01 never printed"), 100);
        }
        return true;
    };
    const auto press = [] {
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            QStringLiteral("org.mpris.MediaPlayer2.vocalynx"), QStringLiteral("/org/mpris/MediaPlayer2"),
            QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("PlayPause")));
    };
    const qint64 pid = app.process().processId();
    QString afterFirst;
    for (int n = 1; n <= dictations; ++n) {
        press();
        const bool ok = waitForCount(QStringLiteral("micReady"), n);
        QThread::msleep(300);
        press();
        if (!ok || !waitForCount(QStringLiteral("state collapsing -> idle"), n) ||
            !waitForCount(QStringLiteral("[Vocalynx] Persistent coli launched"), n + 1)) {
            std::fprintf(stderr, "dictation %d did not finish:\n%s\n", n, qPrintable(app.output()));
            return 1;
        }
        app.waitForLine(QStringLiteral("\x01 never printed"), 1500);  // the replaced process ends
        if (n == 1) afterFirst = holdingsText(pid);
    }
    QThread::sleep(3);  // let the last one settle
    const QString afterLast = holdingsText(pid);
    char what[64];
    std::snprintf(what, sizeof what, "application after %d dictation(s)", dictations);
    const int status =
        measure(what, pid, window, [&app] { app.waitForLine(QStringLiteral("\x01 never printed"), 1000); });
    std::printf("%-34s %s\n", "held after the first dictation", qPrintable(afterFirst));
    std::printf("%-34s %s\n", "held after the last dictation", qPrintable(afterLast));
    tone.kill();
    tone.waitForFinished(5000);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication qapp(argc, argv);
    const int window = argc > 1 ? std::max(1, atoi(argv[1])) : 60;
    if (argc > 2 && QByteArray(argv[2]) == "--app") {
        const QString binary = argc > 3 ? QString::fromLocal8Bit(argv[3])
                                        : QCoreApplication::applicationDirPath() + QStringLiteral("/../src/vocalynx");
        return measureApplication(window, binary);
    }
    if (argc > 2 && QByteArray(argv[2]) == "--after-dictations") {
        const int dictations = argc > 3 ? std::max(1, atoi(argv[3])) : 1;
        const QString binary = argc > 4 ? QString::fromLocal8Bit(argv[4])
                                        : QCoreApplication::applicationDirPath() + QStringLiteral("/../src/vocalynx");
        return measureAfterDictations(window, dictations, binary);
    }
    return measureGestureEngine(window);
}
