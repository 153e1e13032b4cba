// Idle cost of the running application: with the gesture engine's heartbeat and the silent
// player running and nothing else happening, how much of one core does the process use?
//
// Run it under the private services (source scripts/test-services.sh; start_test_services):
//   build/tests/bench/bench_gesture_idle_cost [seconds=60] [path to vocalynx]
// It starts the application, lets it settle for 5 s, then reads the process's user and system
// CPU time from /proc/<pid>/stat at the start and the end of the window. It prints the figure;
// it judges nothing.

#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cstdio>

#include "AppProcess.h"

namespace {

// utime + stime of a process, in clock ticks; -1 when it cannot be read.
long long cpuTicks(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command name (which may hold spaces) start after the last ')'.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return -1;
    return fields[11].toLongLong() + fields[12].toLongLong();  // fields 14 and 15 of stat
}

void report(const char* what, long long ticks, double wallSeconds) {
    const double cpuSeconds = double(ticks) / double(sysconf(_SC_CLK_TCK));
    std::printf("%-28s cpu %.3f s over %.1f s wall = %.3f %% of one core\n", what, cpuSeconds, wallSeconds,
                100.0 * cpuSeconds / wallSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int window = argc > 1 ? std::max(1, atoi(argv[1])) : 60;
    const QString binary = argc > 2 ? QString::fromLocal8Bit(argv[2])
                                    : QCoreApplication::applicationDirPath() + QStringLiteral("/../src/vocalynx");
    vocalynx::test::AppProcess vocalynx;
    vocalynx.environment().insert(QStringLiteral("TMPDIR"), vocalynx.home());
    vocalynx.start(binary);
    if (!vocalynx.waitForLine(QStringLiteral("[Vocalynx] Silent AVAudioPlayer running: "))) {
        std::fprintf(stderr, "the application did not start:\n%s\n", qPrintable(vocalynx.output()));
        return 1;
    }
    const qint64 pid = vocalynx.process().processId();
    const qint64 pulse = qEnvironmentVariableIntValue("VOCALYNX_PULSE_PID");
    QThread::sleep(5);  // let the launch settle

    const long long appStart = cpuTicks(pid);
    const long long pulseStart = pulse > 0 ? cpuTicks(pulse) : -1;
    QElapsedTimer wall;
    wall.start();
    // The application's output is drained now and then so that its pipe never fills.
    while (wall.elapsed() < window * 1000LL) vocalynx.waitForLine(QStringLiteral("\x01 never printed"), 1000);
    const long long appEnd = cpuTicks(pid);
    const long long pulseEnd = pulse > 0 ? cpuTicks(pulse) : -1;
    const double seconds = wall.elapsed() / 1000.0;

    std::printf("%s\n", qPrintable(vocalynx.output().trimmed()));
    if (appStart < 0 || appEnd < 0) {
        std::fprintf(stderr, "the application ended during the window\n");
        return 1;
    }
    report("vocalynx (idle, heartbeat on)", appEnd - appStart, seconds);
    if (pulseStart >= 0 && pulseEnd >= 0) report("sound server (for reference)", pulseEnd - pulseStart, seconds);
    return 0;
}
