// What the speech program prints, through the built application, the real launcher and the
// stand-in program: only text that is a transcript is typed, and a huge one is pasted.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <cmath>

#include "AppProcess.h"
#include "SpeechHome.h"

using vocalynx::test::AppProcess;

namespace {

// A press of the headset's play/pause key; false, with what playerctl said, when it did not reach
// the application.
testing::AssertionResult playPause() {
    QProcess p;
    p.start(QStringLiteral("playerctl"),
            {QStringLiteral("-p"), QStringLiteral("vocalynx"), QStringLiteral("play-pause")});
    if (!p.waitForFinished(15000)) return testing::AssertionFailure() << "playerctl did not finish";
    if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "playerctl exited " << p.exitCode() << ": "
                                       << p.readAllStandardError().toStdString();
}

int standInLines(const QString& log) {
    QFile f(log);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    int n = 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("line ")) ++n;
    return n;
}

// Plays a 440 Hz tone into the test sound server's sink, which its microphone hears.
class Tone {
public:
    explicit Tone(double seconds) {
        player_.start(QStringLiteral("pacat"),
                      {QStringLiteral("--playback"), QStringLiteral("--device=vocalynx_sink"),
                       QStringLiteral("--format=float32le"), QStringLiteral("--rate=48000"),
                       QStringLiteral("--channels=2"), QStringLiteral("--raw"), QStringLiteral("--latency-msec=50")});
        EXPECT_TRUE(player_.waitForStarted(5000));
        QByteArray bytes(static_cast<qsizetype>(48000 * seconds) * qsizetype(2 * sizeof(float)), Qt::Uninitialized);
        auto* samples = reinterpret_cast<float*>(bytes.data());
        for (qsizetype i = 0; i < bytes.size() / qsizetype(2 * sizeof(float)); ++i)
            samples[2 * i] = samples[2 * i + 1] = static_cast<float>(0.4 * std::sin(2 * M_PI * 440 * double(i) / 48000));
        player_.write(bytes);
        player_.closeWriteChannel();
    }
    ~Tone() {
        player_.kill();
        player_.waitForFinished(5000);
    }

private:
    QProcess player_;
};

// The application with the stand-in as its speech program, writing the script's lines unchanged,
// one every 320 audio bytes.
struct SpeechApp {
    explicit SpeechApp(const QByteArray& script) {
        const QString home = app.home();
        vocalynx::test::prepareStandInHome(home);
        QFile s(home + QStringLiteral("/script.txt"));
        EXPECT_TRUE(s.open(QIODevice::WriteOnly));
        s.write(script);
        s.close();
        log = home + QStringLiteral("/standin.log");
        app.finishOnboarding();
        app.environment().insert(QStringLiteral("TMPDIR"), home);
        app.environment().insert(QStringLiteral("COLI_STANDIN_SCRIPT"), s.fileName());
        app.environment().insert(QStringLiteral("COLI_STANDIN_RAW"), QStringLiteral("1"));
        app.environment().insert(QStringLiteral("COLI_STANDIN_BYTES_PER_LINE"), QStringLiteral("320"));
        app.environment().insert(QStringLiteral("COLI_STANDIN_LOG"), log);
        lineCount = script.count('\n');
        app.start(QStringLiteral(VOCALYNX_APP_BINARY));
    }
    ~SpeechApp() {
        ::kill(static_cast<pid_t>(app.process().processId()), SIGTERM);
        app.waitForExit();
    }
    // One dictation: started, held until the program has printed every line, stopped.
    void dictate() {
        ASSERT_TRUE(app.waitForLine("[Vocalynx] Persistent coli launched"))
            << app.output().toStdString();
        Tone tone(8.0);
        ASSERT_TRUE(playPause());
        ASSERT_TRUE(app.waitForLine("state idle -> recording")) << app.output().toStdString();
        QDeadlineTimer printed(15000);
        while (standInLines(log) < lineCount && !printed.hasExpired()) QThread::msleep(20);
        ASSERT_EQ(standInLines(log), lineCount) << app.output().toStdString();
        QThread::msleep(200);  // a moment for the last line to reach the transcript
        ASSERT_TRUE(playPause()) << app.output().right(3000).toStdString();
        ASSERT_TRUE(app.waitForLine("state recording -> transcribing")) << app.output().toStdString();
        ASSERT_TRUE(app.waitForLine("-> idle")) << app.output().toStdString();
    }
    AppProcess app;
    QString log;
    int lineCount = 0;
};

}  // namespace

TEST(SpeechOutput, LinesThatAreNoTranscriptLeaveTheWordsBeforeThem) {
    SpeechApp s(QByteArray("hello world\n") +
                "{\"text\":\"ok\"\n"              // JSON cut short
                "123\n"
                "true\n"
                "null\n" +
                QByteArray(3000, '[') + "\"deep\"" + QByteArray(3000, ']') + "\n" +  // beyond the parser's depth
                "{\"text\":\"\\u0000\\u0001\"}\n");
    ASSERT_NO_FATAL_FAILURE(s.dictate());
    ASSERT_TRUE(s.app.waitForLine("[Vocalynx] Injecting text (")) << s.app.output().toStdString();
    EXPECT_TRUE(s.app.output().contains(QStringLiteral("): hello world...\n"))) << s.app.output().toStdString();
}

TEST(SpeechOutput, AHugeTranscriptIsPastedNotTypedKeyByKey) {
    SpeechApp s(QByteArray("start\n") + QByteArray(900'000, 'a') + "\n");
    ASSERT_NO_FATAL_FAILURE(s.dictate());
    ASSERT_TRUE(s.app.waitForLine("[Vocalynx] Cmd+V posted"))
        << s.app.output().right(3000).toStdString();
    EXPECT_TRUE(s.app.output().contains(
        QStringLiteral("[Vocalynx] Text too long to type (900000 chars), pasting through the clipboard")))
        << s.app.output().right(3000).toStdString();
    EXPECT_FALSE(s.app.output().contains(QStringLiteral("Keyboard injection done")));
    EXPECT_FALSE(s.app.output().contains(QStringLiteral("HANG DETECTED"))) << s.app.output().right(3000).toStdString();
}
