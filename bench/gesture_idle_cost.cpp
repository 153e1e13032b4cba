// Idle cost of keeping the headset gestures ready: the silent looping player, the per-second
// now-playing heartbeat and our MPRIS player on the session bus, with nothing else happening.
//
// Run it under the private services (source scripts/test-services.sh; start_test_services):
//   build/tests/bench/bench_gesture_idle_cost [seconds=60] [--app [path to vocalynx]]
//   build/tests/bench/bench_gesture_idle_cost [seconds=60] --after-dictations [count=1] [path to vocalynx]
// By default it runs the gesture engine alone in this process, on the real adapters, and measures
// this process. With --app it starts the whole application instead and measures that process
// (every other subsystem's idle work included). After 5 s to settle, it reads user and system
// CPU time from /proc/<pid>/stat at the start and at the end of the window, and each thread's
// wake-ups and run time, counting only what happened inside the window (a thread that ends in it
// keeps what it did until then), and prints the figures; it judges nothing. With --after-dictations it starts the whole application with the test suite's
// stand-in speech program and a tone at the test microphone, drives that many dictations through
// presses of the application's own media player, and measures once they are over (the application
// replaces its speech process after every dictation), printing the threads and descriptors it
// held after the first dictation and after the last.

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <optional>
#include <thread>
#include <time.h>

#include "DictationRig.h"
#include "ProcessSampling.h"
#include "gestures/GestureEngine.h"
#include "platform/linux/MprisPlayerService.h"
#include "platform/linux/PulseAudioPlayback.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/ThreadQueues.h"

using namespace vocalynx;

namespace {

void report(const char* what, long long ticks, double wallSeconds) {
    const double cpuSeconds = bench::ticksToSeconds(ticks);
    std::printf("%-34s cpu %.3f s over %.1f s wall = %.3f %% of one core\n", what, cpuSeconds, wallSeconds,
                100.0 * cpuSeconds / wallSeconds);
}

// ---- the bare 20 Hz loop (reference in the same window) ----

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
    bench::ThreadSample sample() const { return bench::threadSamples(0)[tid_.load()]; }

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

void reportBareLoop(const bench::ThreadSample& start, const bench::ThreadSample& end, double seconds) {
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
// server alongside for reference. The wake-ups and the per-thread figures count only what happened
// in the window: the threads are looked at again after every pump, so that one that ends in the
// window (a replaced speech process's readers) keeps what it did until then, and no more.
int measure(const char* what, qint64 pid, int window, const std::function<void()>& pump) {
    const qint64 pulse = qEnvironmentVariableIntValue("VOCALYNX_PULSE_PID");
    // Only beside another process: in this one the loop would count towards the figure.
    std::optional<BareLoop> bare;
    if (pid > 0) bare.emplace();
    const bench::ThreadSample bareStart = bare ? bare->sample() : bench::ThreadSample{};
    bench::ThreadWindow threads(pid);
    const long long start = bench::cpuTicks(pid);
    const long long pulseStart = pulse > 0 ? bench::cpuTicks(pulse) : -1;
    QElapsedTimer wall;
    wall.start();
    while (wall.elapsed() < window * 1000LL) {
        pump();
        threads.sample();
    }
    const long long end = bench::cpuTicks(pid);
    const long long pulseEnd = pulse > 0 ? bench::cpuTicks(pulse) : -1;
    threads.finish();
    const bench::ThreadSample bareEnd = bare ? bare->sample() : bench::ThreadSample{};
    const double seconds = wall.elapsed() / 1000.0;
    if (start < 0 || end < 0) {
        std::fprintf(stderr, "the measured process ended during the window\n");
        return 1;
    }
    report(what, end - start, seconds);
    std::printf("%-34s %.1f per second (all threads)\n", "wake-ups", double(threads.wakeUps()) / seconds);
    threads.print(seconds);
    // The threads' run time to the nanosecond (the figure above counts whole clock ticks).
    std::printf("  all threads: %.3f %% of one core by their run time\n", 100.0 * double(threads.runNs()) / 1e9 / seconds);
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

int measureApplication(int window, const QString& binary) {
    bench::DictationRig rig;
    if (!rig.start(binary)) return 1;
    QThread::sleep(5);  // let the launch settle
    const int status = measure("whole application (idle)", rig.pid(), window, [&rig] { rig.drain(1000); });
    std::printf("%s\n", qPrintable(rig.app.output().trimmed()));
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
    bench::DictationRig rig;
    // A tone at the test microphone for as long as the dictations may take.
    if (!rig.prepareSpeech("hello\nhello world\n") || !rig.playTone(20 + 8 * dictations) || !rig.start(binary))
        return 1;
    const qint64 pid = rig.pid();
    QString afterFirst;
    for (int n = 1; n <= dictations; ++n) {
        rig.press();
        const bool ok = rig.waitForCount(QStringLiteral("micReady"), n);
        QThread::msleep(300);
        rig.press();
        if (!ok || !rig.waitForCount(QStringLiteral("state collapsing -> idle"), n) ||
            !rig.waitForCount(QStringLiteral("[Vocalynx] Persistent coli launched"), n + 1)) {
            std::fprintf(stderr, "dictation %d did not finish:\n%s\n", n, qPrintable(rig.app.output()));
            return 1;
        }
        rig.drain(1500);  // the replaced process ends
        if (n == 1) afterFirst = holdingsText(pid);
    }
    QThread::sleep(3);  // let the last one settle
    const QString afterLast = holdingsText(pid);
    char what[64];
    std::snprintf(what, sizeof what, "application after %d dictation(s)", dictations);
    const int status = measure(what, pid, window, [&rig] { rig.drain(1000); });
    std::printf("%-34s %s\n", "held after the first dictation", qPrintable(afterFirst));
    std::printf("%-34s %s\n", "held after the last dictation", qPrintable(afterLast));
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
