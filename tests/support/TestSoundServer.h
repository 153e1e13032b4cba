#pragma once
// The private sound server of the test services, as pactl shows it: its test microphone is the
// monitor of the null sink vocalynx_sink, remapped into a source.

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>
#include <initializer_list>
#include <signal.h>

#include "ForkedProcess.h"
#include "LiteralList.h"

namespace vocalynx::test {

// What pactl prints for the arguments, trimmed.
inline QString pactl(const QStringList& args) {
    ForkedProcess p;
    p.start(QStringLiteral("pactl"), args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}
inline QString pactl(std::initializer_list<const char*> args) { return pactl(literalList(args)); }

// Whether the sound server answers at its socket.
inline bool soundServerAnswers() {
    ForkedProcess p;
    p.start(QStringLiteral("pactl"), {QStringLiteral("info")});
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Ends the sound server as a crash does (SIGKILL) and waits until its socket no longer answers.
inline bool killSoundServer() {
    QFile pidFile(qEnvironmentVariable("VOCALYNX_SERVICES_DIR") + QStringLiteral("/pulse.pid"));
    if (!pidFile.open(QIODevice::ReadOnly)) return false;
    const int pid = QString::fromLatin1(pidFile.readAll()).trimmed().toInt();
    if (pid <= 0 || ::kill(pid, SIGKILL) != 0) return false;
    const QDeadlineTimer deadline(10000);
    while (soundServerAnswers()) {
        if (deadline.hasExpired()) return false;
        QThread::msleep(20);
    }
    return true;
}

// Starts the sound server again at the same socket, with the same sink and test microphone, as the
// desktop's audio service comes back after a crash or an update; returns once it answers, with its
// defaults set as before.
inline bool startSoundServer() {
    if (!ForkedProcess::startDetached(qEnvironmentVariable("VOCALYNX_PULSE_START"), {})) return false;
    const QDeadlineTimer deadline(10000);
    while (!soundServerAnswers()) {
        if (deadline.hasExpired()) return false;
        QThread::msleep(20);
    }
    pactl({"set-default-source", "vocalynx_mic"});
    pactl({"set-default-sink", "vocalynx_sink"});
    return true;
}

// The server's index of the named sink, or empty when it has none by that name.
inline QString sinkIndex(const QString& name) {
    for (const QString& line : pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks")})
                                   .split(QLatin1Char('\n')))
        if (line.section(QLatin1Char('\t'), 1, 1) == name) return line.section(QLatin1Char('\t'), 0, 0);
    return {};
}

// How many of our latency streams play into the named sink, as the server lists its inputs.
inline int latencyHoldsOn(const QString& sink) {
    const QString index = sinkIndex(sink);
    if (index.isEmpty()) return 0;
    int holds = 0;
    bool onSink = false;
    for (const QString& raw : pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")}).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QStringLiteral("Sink Input #"))) onSink = false;
        if (line.startsWith(QStringLiteral("Sink: "))) onSink = line.mid(6) == index;
        if (onSink && line == QStringLiteral("media.name = \"Vocalynx microphone latency\"")) ++holds;
    }
    return holds;
}

// How far ahead of the clock the test sink has mixed and the latency its clients ask of it, in
// milliseconds (-1 when not listed), from "Latency: 957007 usec, configured 1960000 usec".
struct SinkLatency {
    double aheadMs = -1;
    double configuredMs = -1;
    // The sink works in short blocks again: what it mixed for a client at the server's default
    // latency (about two seconds) is played out, and it is held at a short latency.
    bool drained() const { return configuredMs >= 0 && configuredMs < 100 && aheadMs < 60; }
};

inline SinkLatency testSinkLatency() {
    bool inSink = false;
    for (const QString& line : pactl({QStringLiteral("list"), QStringLiteral("sinks")}).split(QLatin1Char('\n'))) {
        const QString t = line.trimmed();
        if (t.startsWith(QStringLiteral("Sink #"))) inSink = false;
        if (t == QStringLiteral("Name: vocalynx_sink")) inSink = true;
        if (inSink && t.startsWith(QStringLiteral("Latency: ")))
            return {t.section(QLatin1Char(' '), 1, 1).toDouble() / 1000.0,
                    t.section(QLatin1Char(' '), 4, 4).toDouble() / 1000.0};
    }
    return {};
}

}  // namespace vocalynx::test
