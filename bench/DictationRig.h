#pragma once
// The whole application started for a benchmark under the private test services, with a home of
// its own (neither the first-run guide nor the what's-new window opening), and for dictations the
// test suite's stand-in speech program, a tone at the test microphone, and presses of the
// application's own media player.

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cstdio>

#include "AppProcess.h"
#include "RecordingLogger.h"
#include "SpeechHome.h"
#include "ToneAnalysis.h"
#include "core/PreferencesDomain.h"
#include "platform/InfoDictionary.h"

namespace vocalynx::bench {

class DictationRig {
public:
    DictationRig() {
        app.environment().insert(QStringLiteral("TMPDIR"), app.home());
        app.finishOnboarding();
        test::RecordingLogger quiet;
        StandardDefaults(app.home() + QStringLiteral("/.config/vocalynx"), quiet)
            .setLastSeenWhatsNew(InfoDictionary::fromBuild().string(InfoDictionary::kShortVersion));
    }
    ~DictationRig() {
        if (tone_.state() != QProcess::NotRunning) {
            tone_.kill();
            tone_.waitForFinished(5000);
        }
    }

    // The stand-in where the application looks for its speech program, saying the script's lines
    // in turn, one per bytesPerLine bytes of audio it receives; false (with a message) on failure.
    bool prepareSpeech(const QByteArray& script, int bytesPerLine = 3200) {
        const QString home = app.home();
        const QString program = test::speechProgramPath(home);
        const QString scriptPath = home + QStringLiteral("/script.txt");
        QFile file(scriptPath);
        if (!QDir().mkpath(QFileInfo(program).path()) || !QFile::link(test::standInProgram(), program) ||
            !test::installSpeechModel(home) || !file.open(QIODevice::WriteOnly) || file.write(script) != script.size()) {
            std::fprintf(stderr, "cannot prepare the speech program in %s\n", qPrintable(home));
            return false;
        }
        app.environment().insert(QStringLiteral("COLI_STANDIN_SCRIPT"), scriptPath);
        app.environment().insert(QStringLiteral("COLI_STANDIN_BYTES_PER_LINE"), QString::number(bytesPerLine));
        return true;
    }

    // A 440 Hz tone into the test sink, whose monitor the test microphone records, for that long.
    bool playTone(double seconds) {
        tone_.start(QStringLiteral("pacat"),
                    {QStringLiteral("--playback"), QStringLiteral("--device=vocalynx_sink"),
                     QStringLiteral("--format=float32le"), QStringLiteral("--rate=48000"),
                     QStringLiteral("--channels=2"), QStringLiteral("--raw"), QStringLiteral("--latency-msec=50")});
        if (!tone_.waitForStarted(5000)) {
            std::fprintf(stderr, "pacat did not start: are the test services running?\n");
            return false;
        }
        tone_.write(
            test::toneBuffer(440, static_cast<int>(48000 * seconds), 48000, 2, SampleFormat::float32, 0, 0.5).bytes);
        tone_.closeWriteChannel();
        return true;
    }

    // Starts the application and waits until it is ready for a press.
    bool start(const QString& binary) {
        app.start(binary);
        if (app.waitForLine(QStringLiteral("[Vocalynx] Silent AVAudioPlayer running: "))) return true;
        std::fprintf(stderr, "the application did not start:\n%s\n", qPrintable(app.output()));
        return false;
    }

    // A press of the headset button, as the desktop's media keys send it.
    static void press() {
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            QStringLiteral("org.mpris.MediaPlayer2.vocalynx"), QStringLiteral("/org/mpris/MediaPlayer2"),
            QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("PlayPause")));
    }

    // Waits until the output holds part at least n times; false at the deadline or at exit.
    bool waitForCount(const QString& part, qsizetype n, int timeoutMs = 20000) {
        QDeadlineTimer deadline(timeoutMs);
        while (app.output().count(part) < n) {
            if (deadline.hasExpired() || app.process().state() == QProcess::NotRunning) return false;
            drain(100);
        }
        return true;
    }

    // Reads the application's output for that long, so that its pipe never fills.
    void drain(int ms) { app.waitForLine(QStringLiteral("\x01 never printed"), ms); }

    qint64 pid() { return app.process().processId(); }

    test::AppProcess app;

private:
    QProcess tone_;
};

}  // namespace vocalynx::bench
