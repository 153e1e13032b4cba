#pragma once
// What the benchmarks read about a process from /proc: its CPU time, and per thread the wake-ups
// (voluntary context switches) and the time on a CPU, counted over a window.

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdio>
#include <map>

namespace vocalynx::bench {

// utime + stime of a process (0: this one), in clock ticks; -1 when it cannot be read. The kernel
// keeps the time of threads that ended in it, so a difference covers them too.
inline long long cpuTicks(qint64 pid) {
    QFile f(pid > 0 ? QStringLiteral("/proc/%1/stat").arg(pid) : QStringLiteral("/proc/self/stat"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command name (which may hold spaces) start after the last ')'.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) return -1;
    return fields[11].toLongLong() + fields[12].toLongLong();  // fields 14 and 15 of stat
}

inline double ticksToSeconds(long long ticks) { return double(ticks) / double(sysconf(_SC_CLK_TCK)); }

struct ThreadSample {
    QString name;
    long long wakeUps = 0;  // voluntary context switches: how often it slept and was woken again
    long long runNs = 0;    // time on a CPU (schedstat)
};

// Every thread of pid (0: this process) by thread id.
inline std::map<qint64, ThreadSample> threadSamples(qint64 pid) {
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

// A process's threads over a window, counting only what happened inside it: a thread that starts
// in the window counts from zero, and one that ends in it counts up to its last sample (the kernel
// forgets its counts when it ends). Sample now and then during the window, so that a thread that
// ends loses at most what it did since the last sample.
class ThreadWindow {
public:
    explicit ThreadWindow(qint64 pid) : pid_(pid), start_(threadSamples(pid)), last_(start_) {}

    void sample() {
        for (auto& [tid, now] : threadSamples(pid_)) last_[tid] = now;
    }
    // The last sample; the threads missing from it ended in the window.
    void finish() {
        const std::map<qint64, ThreadSample> now = threadSamples(pid_);
        for (auto& [tid, s] : last_) {
            const auto it = now.find(tid);
            if (it != now.end()) s = it->second;
            else ended_[tid] = true;
        }
        for (const auto& [tid, s] : now) last_[tid] = s;
    }

    long long wakeUps() const {
        long long total = 0;
        for (const auto& [tid, end] : last_) total += end.wakeUps - startOf(tid).wakeUps;
        return total;
    }
    long long runNs() const {
        long long total = 0;
        for (const auto& [tid, end] : last_) total += end.runNs - startOf(tid).runNs;
        return total;
    }

    // Per thread, the wake-ups per second and the share of one core over the window.
    void print(double seconds) const {
        std::printf("  per thread (wake-ups/s, %% of one core):\n");
        for (const auto& [tid, end] : last_) {
            const ThreadSample start = startOf(tid);
            const char* note = !start_.count(tid) ? (ended_.count(tid) ? "  (started and ended in the window)"
                                                                        : "  (started in the window)")
                                                  : (ended_.count(tid) ? "  (ended in the window)" : "");
            std::printf("    %-7lld %-16s %6.1f /s %7.3f %%%s\n", static_cast<long long>(tid), qPrintable(end.name),
                        double(end.wakeUps - start.wakeUps) / seconds,
                        100.0 * double(end.runNs - start.runNs) / 1e9 / seconds, note);
        }
    }

private:
    ThreadSample startOf(qint64 tid) const {
        const auto it = start_.find(tid);
        return it != start_.end() ? it->second : ThreadSample{};
    }
    qint64 pid_;
    std::map<qint64, ThreadSample> start_;
    std::map<qint64, ThreadSample> last_;
    std::map<qint64, bool> ended_;
};

}  // namespace vocalynx::bench
