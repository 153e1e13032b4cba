// CPU of the application while it dictates, beside a plain capture of the same microphone in the
// same window: `parec` with the application's 20 ms record fragment, and `parec` with the sound
// server's default one.
//
// Run it under the private services (source scripts/test-services.sh; start_test_services):
//   build/tests/bench/bench_dictation_cost [seconds=20] [rounds=1] [path to vocalynx]
// It starts the whole application with the test suite's stand-in speech program (a transcript that
// grows by a word every half second, as a speaker's does) and a tone at the test microphone, starts
// a dictation with a press of the application's own media player, and once the microphone is
// ready and both captures of `parec` run, measures every thread of the application and of the two
// `parec` processes over the window: the time on a CPU and the wake-ups. Rounds repeat the window
// within the same dictation (which lasts at most a minute). It judges nothing; it prints the ratio of the application to `parec`
// with the same fragment (the goal is at most 3).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "DictationRig.h"
#include "ProcessSampling.h"

using namespace vocalynx;

namespace {

constexpr int kFragmentMs = 20;

// Runs a program and returns what it printed, empty when it fails.
QString outputOf(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(5000) || p.exitCode() != 0) return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// The sound server's default source and its sample format as `parec` arguments.
struct Source {
    QString name;
    QStringList formatArgs;
};

std::optional<Source> defaultSource() {
    const QString name = outputOf(QStringLiteral("pactl"), {QStringLiteral("get-default-source")}).trimmed();
    if (name.isEmpty()) return std::nullopt;
    // "index<TAB>name<TAB>driver<TAB>float32le 2ch 48000Hz<TAB>state"
    for (const QString& line :
         outputOf(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")})
             .split(QLatin1Char('\n'))) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() < 4 || fields[1] != name) continue;
        const QStringList spec = fields[3].split(QLatin1Char(' '));
        if (spec.size() < 3) return std::nullopt;
        QString channels = spec[1], rate = spec[2];
        channels.chop(2);  // "ch"
        rate.chop(2);      // "Hz"
        return Source{name,
                      {QStringLiteral("--format=") + spec[0], QStringLiteral("--channels=") + channels,
                       QStringLiteral("--rate=") + rate}};
    }
    return std::nullopt;
}

// A `parec` recording the source into nothing.
std::unique_ptr<QProcess> startParec(const Source& source, int fragmentMs) {
    auto p = std::make_unique<QProcess>();
    p->setStandardOutputFile(QProcess::nullDevice());
    QStringList args{QStringLiteral("--device=") + source.name, QStringLiteral("--raw")};
    args += source.formatArgs;
    if (fragmentMs > 0) args << QStringLiteral("--latency-msec=%1").arg(fragmentMs);
    p->start(QStringLiteral("parec"), args);
    if (!p->waitForStarted(5000)) return nullptr;
    return p;
}

struct Measured {
    const char* what;
    qint64 pid;
    std::unique_ptr<bench::ThreadWindow> threads;
    double percent = 0;
};

void printRow(const Measured& m, double seconds, bool perThread) {
    std::printf("%-40s %7.3f %% of one core, %6.1f wake-ups/s\n", m.what, m.percent,
                double(m.threads->wakeUps()) / seconds);
    if (perThread) m.threads->print(seconds);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication qapp(argc, argv);
    const int window = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 1;
    const QString binary = argc > 3 ? QString::fromLocal8Bit(argv[3])
                                    : QCoreApplication::applicationDirPath() + QStringLiteral("/../src/vocalynx");
    // A dictation lasts at most a minute; the windows have to fit into one.
    if (rounds * (window + 1) > 50) {
        std::fprintf(stderr, "rounds x (seconds + 1) must stay within 50 s\n");
        return 1;
    }
    constexpr double dictationSeconds = 70;

    const std::optional<Source> source = defaultSource();
    if (!source) {
        std::fprintf(stderr, "no default source: are the test services running?\n");
        return 1;
    }
    // A transcript that grows by one word every half second of audio, never settling, for as long
    // as the dictation lasts.
    QByteArray script, line;
    for (int i = 1; i <= 2 * dictationSeconds; ++i) {
        line += (i > 1 ? " w" : "w") + QByteArray::number(i);
        script += line + '\n';
    }
    bench::DictationRig rig;
    if (!rig.prepareSpeech(script, 16000) || !rig.playTone(dictationSeconds + 10) || !rig.start(binary)) return 1;
    QThread::sleep(3);  // let the launch settle
    rig.press();
    if (!rig.waitForCount(QStringLiteral("micReady"), 1)) {
        std::fprintf(stderr, "the dictation did not start:\n%s\n", qPrintable(rig.app.output()));
        return 1;
    }
    const auto parec = startParec(*source, kFragmentMs);
    const auto parecDefault = startParec(*source, 0);
    if (!parec || !parecDefault) {
        std::fprintf(stderr, "parec did not start\n");
        return 1;
    }
    rig.drain(2000);  // the recording under way, both captures running

    const QString ended = QStringLiteral("-> idle");
    const qsizetype endedBefore = rig.app.output().count(ended);
    std::printf("microphone %s (%s); application and parec measured in the same window, %d s, %d round(s)\n",
                qPrintable(source->name), qPrintable(source->formatArgs.join(QLatin1Char(' '))), window, rounds);
    for (int round = 1; round <= rounds; ++round) {
        std::vector<Measured> measured;
        measured.push_back({"application while dictating", rig.pid(), nullptr});
        measured.push_back({"parec, 20 ms fragment", parec->processId(), nullptr});
        measured.push_back({"parec, the server's default fragment", parecDefault->processId(), nullptr});
        for (Measured& m : measured) m.threads = std::make_unique<bench::ThreadWindow>(m.pid);
        QElapsedTimer wall;
        wall.start();
        while (wall.elapsed() < window * 1000LL) {
            rig.drain(1000);
            for (Measured& m : measured) m.threads->sample();
        }
        for (Measured& m : measured) m.threads->finish();
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        if (rig.app.output().count(ended) != endedBefore || rig.app.process().state() == QProcess::NotRunning) {
            std::fprintf(stderr, "the dictation ended during the window:\n%s\n", qPrintable(rig.app.output()));
            return 1;
        }
        std::printf("round %d:\n", round);
        for (Measured& m : measured) m.percent = 100.0 * double(m.threads->runNs()) / 1e9 / seconds;
        for (const Measured& m : measured) printRow(m, seconds, &m == &measured.front());
        std::printf("application / parec with the same fragment: %.2fx (goal: at most 3x)\n",
                    measured[0].percent / measured[1].percent);
    }
    rig.press();
    rig.waitForCount(ended, endedBefore + 1, 10000);
    return 0;
}
