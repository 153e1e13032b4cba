#pragma once
// The private sound server of the test services, as pactl shows it: its test microphone is the
// monitor of the null sink vocalynx_sink, remapped into a source.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <initializer_list>

#include "LiteralList.h"

namespace vocalynx::test {

// What pactl prints for the arguments, trimmed.
inline QString pactl(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}
inline QString pactl(std::initializer_list<const char*> args) { return pactl(literalList(args)); }

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
