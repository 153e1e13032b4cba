// The application's MPRIS player driven by real D-Bus clients (playerctl, dbus-send) on the
// private session bus, and the gestures its commands become.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include "AppProcess.h"
#include "LiteralList.h"
#include "SpeechHome.h"

using vocalynx::test::AppProcess;

namespace {

// Runs a client to its end and gives back its standard output, trimmed.
QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(15000)) {
        p.kill();
        p.waitForFinished();
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The same for a command line written out in the test.
QString run(const char* program, std::initializer_list<const char*> args) {
    return run(QString::fromUtf8(program), vocalynx::test::literalList(args));
}
QString shell(const QString& script) { return run(QStringLiteral("sh"), {QStringLiteral("-c"), script}); }

QStringList gestureEvents(const QString& output) {
    QStringList events;
    static const QRegularExpression entry(
        QStringLiteral(R"(\[Vocalynx\]\[GestureEntry\] ts=\S+ uptime=\S+ event=(\w+) state=\w+)"));
    for (auto it = entry.globalMatch(output); it.hasNext();) events << it.next().captured(1);
    return events;
}

// Waits until the application has printed at least count gesture entry lines.
bool waitForGestures(AppProcess& app, int count, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (gestureEvents(app.output()).size() < count) {
        if (deadline.hasExpired()) return false;
        app.waitForLine(QStringLiteral("\x01 never printed"), 100);
    }
    return true;
}

// Waits until a client sees our player on the bus.
bool waitForPlayer(int timeoutMs = 15000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (run("playerctl", {"-l"}).split(u'\n').contains(QStringLiteral("vocalynx"))) return true;
        QThread::msleep(50);
    }
    return false;
}

// Two player commands the given time apart, sent over this test's own bus connection: starting a
// client program for the second one would add its start-up time to the gap, and on a loaded
// machine that pushes it past the 0.3 s press window (or the 0.15 s rapid-press limit).
void twoCommandsApart(const QString& first, const QString& second, int gapMs) {
    auto call = [](const QString& method) {
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            QStringLiteral("org.mpris.MediaPlayer2.vocalynx"), QStringLiteral("/org/mpris/MediaPlayer2"),
            QStringLiteral("org.mpris.MediaPlayer2.Player"), method));
    };
    call(first);
    if (gapMs > 0) QThread::msleep(static_cast<unsigned long>(gapMs));
    call(second);
}

void startApp(AppProcess& app) {
    app.environment().insert(QStringLiteral("TMPDIR"), app.home());
    app.start(QStringLiteral(VOCALYNX_APP_BINARY));
}

void endApp(AppProcess& app) {
    ::kill(static_cast<pid_t>(app.process().processId()), SIGTERM);
    EXPECT_TRUE(app.waitForExit());
}

}  // namespace

TEST(GestureMpris, RemoteCommandsBecomeGestures) {
    AppProcess app;
    startApp(app);
    ASSERT_TRUE(waitForPlayer()) << app.output().toStdString();
    struct Case {
        const char* name;
        QString script;  // empty: the two commands of pair, gapMs apart
        const char* event;
        std::pair<QString, QString> pair = {};
        int gapMs = 0;
    };
    const Case cases[] = {
        {"one PlayPause", QStringLiteral("playerctl -p vocalynx play-pause"), "single"},
        {"two PlayPause 0.2 s apart", QStringLiteral(""), "double",
         {QStringLiteral("PlayPause"), QStringLiteral("PlayPause")}, 200},
        {"Next", QStringLiteral("playerctl -p vocalynx next"), "double"},
        {"Previous", QStringLiteral("playerctl -p vocalynx previous"), "triple"},
        {"Play then Pause 0.2 s apart", QStringLiteral(""), "double",
         {QStringLiteral("Play"), QStringLiteral("Pause")}, 200},
        {"a PlayPause right after another is dropped", QStringLiteral(""), "single",
         {QStringLiteral("PlayPause"), QStringLiteral("PlayPause")}, 0},
        {"a Next right after another is dropped", QStringLiteral(""), "double",
         {QStringLiteral("Next"), QStringLiteral("Next")}, 0},
        {"a Previous right after a Next is dropped", QStringLiteral(""), "double",
         {QStringLiteral("Next"), QStringLiteral("Previous")}, 0},
        // A triple comes at once: anything left over from the cases above would show before it.
        {"Previous again", QStringLiteral("playerctl -p vocalynx previous"), "triple"},
    };
    QStringList expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Past the rapid-command limit, so that no case's first command is dropped for the last
        // command of the case before.
        QThread::msleep(200);
        if (c.script.isEmpty())
            twoCommandsApart(c.pair.first, c.pair.second, c.gapMs);
        else
            shell(c.script);
        expected << QString::fromUtf8(c.event);
        ASSERT_TRUE(waitForGestures(app, int(expected.size()))) << app.output().toStdString();
        EXPECT_EQ(gestureEvents(app.output()), expected) << app.output().toStdString();
    }
    EXPECT_EQ(app.output().count(QStringLiteral("[Vocalynx] Ignoring rapid event (likely AirPods removal)")), 3);
    endApp(app);
}

TEST(GestureMpris, PublishesItselfAsAPlayingPlayerNamedVocalynx) {
    AppProcess app;
    startApp(app);
    ASSERT_TRUE(waitForPlayer()) << app.output().toStdString();
    EXPECT_EQ(run("playerctl", {"-p", "vocalynx", "metadata", "title"}), QStringLiteral("Vocalynx"));
    EXPECT_EQ(run("playerctl", {"-p", "vocalynx", "metadata", "mpris:length"}), QStringLiteral("36000000000"));
    // The heartbeat publishes paused and then playing again each second; a read lands on Playing.
    QDeadlineTimer deadline(5000);
    QString status;
    while (!deadline.hasExpired() &&
           (status = run("playerctl", {"-p", "vocalynx", "status"})) != QStringLiteral("Playing")) {}
    EXPECT_EQ(status, QStringLiteral("Playing"));
    const QString identity = run("dbus-send", {"--session", "--print-reply", "--dest=org.mpris.MediaPlayer2.vocalynx",
                                               "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties.Get",
                                               "string:org.mpris.MediaPlayer2", "string:Identity"});
    EXPECT_TRUE(identity.contains(QStringLiteral("\"Vocalynx\""))) << identity.toStdString();
    const QString canControl = run("dbus-send", {"--session", "--print-reply", "--dest=org.mpris.MediaPlayer2.vocalynx",
                                                 "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties.Get",
                                                 "string:org.mpris.MediaPlayer2.Player", "string:CanControl"});
    EXPECT_TRUE(canControl.contains(QStringLiteral("boolean true"))) << canControl.toStdString();
    EXPECT_TRUE(app.waitForLine("[Vocalynx] Silent AVAudioPlayer running: true"))
        << app.output().toStdString();

    // PropertiesChanged reaches a client that follows the player.
    QProcess follow;
    follow.start(QStringLiteral("playerctl"), {QStringLiteral("-p"), QStringLiteral("vocalynx"),
                                               QStringLiteral("status"), QStringLiteral("--follow")});
    ASSERT_TRUE(follow.waitForStarted());
    QDeadlineTimer followDeadline(5000);
    QByteArray seen;
    while (!followDeadline.hasExpired() && !(seen.contains("Paused") && seen.contains("Playing"))) {
        follow.waitForReadyRead(200);
        seen += follow.readAllStandardOutput();
    }
    follow.kill();
    follow.waitForFinished();
    EXPECT_TRUE(seen.contains("Paused") && seen.contains("Playing")) << seen.toStdString();
    endApp(app);
}

TEST(GestureMpris, TheHeartbeatFlipsThePlaybackStatusWithoutReannouncingTheDescription) {
    AppProcess app;
    startApp(app);
    ASSERT_TRUE(waitForPlayer()) << app.output().toStdString();
    QProcess monitor;
    monitor.start(QStringLiteral("dbus-monitor"),
                  {QStringLiteral("--session"),
                   QStringLiteral("type='signal',path='/org/mpris/MediaPlayer2',member='PropertiesChanged'")});
    ASSERT_TRUE(monitor.waitForStarted());
    QByteArray seen;
    QDeadlineTimer deadline(3500);  // three heartbeats and more
    while (!deadline.hasExpired()) {
        monitor.waitForReadyRead(200);
        seen += monitor.readAllStandardOutput();
    }
    monitor.kill();
    monitor.waitForFinished();
    EXPECT_GE(seen.count("string \"Playing\""), 3) << seen.toStdString();
    EXPECT_GE(seen.count("string \"Paused\""), 3) << seen.toStdString();
    EXPECT_FALSE(seen.contains("Metadata")) << seen.toStdString();
    // A client that arrives now still reads the whole description.
    EXPECT_EQ(run("playerctl", {"-p", "vocalynx", "metadata", "title"}), QStringLiteral("Vocalynx"));
    endApp(app);
}

TEST(GestureMpris, WithoutASessionBusTheApplicationStartsAndSaysWhy) {
    AppProcess app;
    app.environment().insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                             QStringLiteral("unix:path=/nonexistent/vocalynx-bus"));
    startApp(app);
    ASSERT_TRUE(app.waitForLine("[Vocalynx] Headset gestures unavailable: no D-Bus session bus"))
        << app.output().toStdString();
    // The launch road goes on and the event loop keeps running.
    EXPECT_TRUE(app.waitForLine("[Vocalynx] Silent AVAudioPlayer running: "));
    EXPECT_FALSE(app.waitForExit(500));
    endApp(app);
    EXPECT_EQ(app.process().exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(app.process().exitCode(), SIGTERM);
}

TEST(GestureMpris, WithoutASoundServerTheSilentPlayerWaitsForAnOutputDevice) {
    AppProcess app;
    app.environment().insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/vocalynx-pulse"));
    startApp(app);
    ASSERT_TRUE(
        app.waitForLine("[Vocalynx] No audio output device available, deferring silent player rebuild"))
        << app.output().toStdString();
    EXPECT_TRUE(app.output().contains(QStringLiteral("[Vocalynx] Silent AVAudioPlayer running: false")))
        << app.output().toStdString();
    // Gestures still work: the player on the bus does not need sound.
    ASSERT_TRUE(waitForPlayer());
    shell(QStringLiteral("playerctl -p vocalynx previous"));
    ASSERT_TRUE(waitForGestures(app, 1)) << app.output().toStdString();
    EXPECT_EQ(app.output().count(QStringLiteral("No audio output device available")), 1)
        << "one wait, no second one alongside";
    endApp(app);
    EXPECT_EQ(app.process().exitCode(), SIGTERM) << "ended by the signal, not by a crash";
}

namespace {
// Puts the stand-in speech program where the application looks for it, and a model file big
// enough to pass the model check.
}  // namespace

TEST(GestureMpris, APressStartsADictationAndTheNextPressStopsIt) {
    AppProcess app;
    vocalynx::test::prepareStandInHome(app.home());
    startApp(app);
    ASSERT_TRUE(waitForPlayer()) << app.output().toStdString();
    ASSERT_TRUE(app.waitForLine("[Vocalynx] Persistent coli launched")) << app.output().toStdString();

    shell(QStringLiteral("playerctl -p vocalynx play-pause"));
    ASSERT_TRUE(app.waitForLine("state idle -> recording")) << app.output().toStdString();
    EXPECT_EQ(gestureEvents(app.output()), QStringList{QStringLiteral("single")});
    EXPECT_TRUE(app.output().contains(
        QRegularExpression(QStringLiteral(R"(\[Vocalynx\]\[GestureEntry\] \S+ \S+ event=single state=idle)"))));

    shell(QStringLiteral("playerctl -p vocalynx play-pause"));
    ASSERT_TRUE(app.waitForLine("state recording -> transcribing")) << app.output().toStdString();
    EXPECT_TRUE(app.output().contains(
        QRegularExpression(QStringLiteral(R"(\[Vocalynx\]\[GestureEntry\] \S+ \S+ event=single state=recording)"))))
        << app.output().toStdString();
    // After the recording the silent player comes back.
    EXPECT_TRUE(app.waitForLine("[Vocalynx] Silent player confirmed playing on attempt 0"))
        << app.output().toStdString();
    endApp(app);
}

namespace {

// A program started beside the application for one test and ended with it.
class Beside {
public:
    Beside(const QString& program, const QStringList& arguments) {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(program, arguments);
    }
    ~Beside() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    // Waits until the program has printed count lines equal to line.
    bool waitForLines(const QString& line, qsizetype count, int timeoutMs) {
        QDeadlineTimer deadline(timeoutMs);
        while (lines().count(line) < count) {
            if (deadline.hasExpired() || process_.state() == QProcess::NotRunning) return false;
            process_.waitForReadyRead(100);
        }
        return true;
    }
    QStringList lines() {
        process_.waitForReadyRead(0);  // takes in what the program has printed so far
        output_ += QString::fromUtf8(process_.readAll());
        return output_.split(u'\n', Qt::SkipEmptyParts);
    }
    QStringList calls() { return lines().filter(QRegularExpression(QStringLiteral("^call "))); }

private:
    QProcess process_;
    QString output_;
};

bool waitForBusName(const QString& name, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (QDBusConnection::sessionBus().interface()->isServiceRegistered(name).value()) return true;
        QThread::msleep(50);
    }
    return false;
}

}  // namespace

// A player proxy passes every call on to the player it thinks active, which is ours (it announces
// Playing every second): playerctld does, and so may any player. The pause sent for a dictation
// must reach the real player, never come back to us as a press.
TEST(GestureMpris, APlayerProxyNeverTurnsTheDictationPauseIntoAPress) {
    const QString standIn = QStringLiteral(VOCALYNX_TEST_TOOLS_DIR "/mpris_stand_in_player");
    const struct {
        const char* name;
        QString program;
        QStringList arguments;
        QString busName;
        QStringList proxyCalls;  // the commands the proxy gets
    } cases[] = {
        // Never sent anything (and it prints nothing).
        {"playerctld", QStringLiteral("playerctld"), {}, QStringLiteral("org.mpris.MediaPlayer2.playerctld"), {}},
        // Found out by the pause it passes back; the resume then goes to the real player alone.
        {"a player that relays to ours", standIn,
         {QStringLiteral("--name"), QStringLiteral("org.mpris.MediaPlayer2.mediahub"), QStringLiteral("--title"),
          QStringLiteral("Hub"), QStringLiteral("--relay-to"), QStringLiteral("org.mpris.MediaPlayer2.vocalynx")},
         QStringLiteral("org.mpris.MediaPlayer2.mediahub"), {QStringLiteral("call Pause")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppProcess app;
        vocalynx::test::prepareStandInHome(app.home());
        // Named so that the proxy's name comes first among the players.
        Beside music(standIn, {QStringLiteral("--name"), QStringLiteral("org.mpris.MediaPlayer2.rhythmbox"),
                               QStringLiteral("--title"), QStringLiteral("Song"), QStringLiteral("--artist"),
                               QStringLiteral("Singer")});
        ASSERT_TRUE(music.waitForLines(QStringLiteral("ready"), 1, 10000));
        Beside proxy(c.program, c.arguments);
        ASSERT_TRUE(waitForBusName(c.busName));
        startApp(app);
        ASSERT_TRUE(waitForPlayer()) << app.output().toStdString();
        ASSERT_TRUE(app.waitForLine("[Vocalynx] Persistent coli launched")) << app.output().toStdString();
        // The second poll of the media service starts only once the first one's reading is in.
        const QString read = QStringLiteral("read PlaybackStatus");
        QDeadlineTimer polled(15000);
        while (music.lines().count(read) + proxy.lines().count(read) < 2 && !polled.hasExpired())
            music.waitForLines(read, 2, 100);
        EXPECT_FALSE(polled.hasExpired()) << "the media service never read a player";

        shell(QStringLiteral("playerctl -p vocalynx play-pause"));
        ASSERT_TRUE(app.waitForLine("state idle -> recording")) << app.output().toStdString();
        EXPECT_TRUE(music.waitForLines(QStringLiteral("call Pause"), 1, 5000)) << music.lines().join(u'\n').toStdString();
        EXPECT_FALSE(app.waitForLine("state recording -> transcribing", 2000))
            << "the dictation stopped by itself:\n"
            << app.output().toStdString();

        shell(QStringLiteral("playerctl -p vocalynx play-pause"));
        ASSERT_TRUE(app.waitForLine("state recording -> transcribing")) << app.output().toStdString();
        EXPECT_TRUE(music.waitForLines(QStringLiteral("call Play"), 1, 5000)) << music.lines().join(u'\n').toStdString();
        EXPECT_TRUE(app.waitForLine("[Vocalynx] Silent player confirmed playing on attempt 0"))
            << app.output().toStdString();
        EXPECT_EQ(gestureEvents(app.output()).join(u' ').toStdString(), "single single") << app.output().toStdString();
        EXPECT_EQ(music.calls(), (QStringList{QStringLiteral("call Pause"), QStringLiteral("call Play")}));
        EXPECT_EQ(proxy.calls(), c.proxyCalls);
        endApp(app);
    }
}
