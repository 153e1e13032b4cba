// The whole application beside what a real desktop session holds: a temporary folder other users
// can write to, an X server and a session bus that go away while it runs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "AppProcess.h"
#include "SpeechHome.h"
#include "StandInRig.h"
#include "ToneAnalysis.h"
#include "gestures/SilentPlayerKeeper.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

const QString kPlayerName = QStringLiteral("org.mpris.MediaPlayer2.vocalynx");
const QString kPlayerPath = QStringLiteral("/org/mpris/MediaPlayer2");

// A call to the application's media player on the bus; an error reply when nobody answers.
QDBusMessage callPlayer(QDBusConnection bus, const QString& interface, const QString& method,
                        const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(kPlayerName, kPlayerPath, interface, method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, 5000);
}
bool playerAnswers(QDBusConnection bus) {
    return callPlayer(bus, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                      {QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Identity")})
               .type() == QDBusMessage::ReplyMessage;
}

struct FileState {
    bool exists = false;
    mode_t mode = 0;
    off_t size = 0;
};
FileState fileState(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return {true, st.st_mode, st.st_size};
}

// The application with its own home, the stand-in as its speech program (which ends only by a
// signal, so that its end shows the application ended it) and a tone at the test microphone; a
// dictation is two presses of its media player's play/pause.
class DictatingApp {
public:
    DictatingApp() {
        app.finishOnboarding();
        prepareStandInHome(app.home());
        write(app.home() + QStringLiteral("/script.txt"), "hello\nhello world\n");
        app.environment().insert(QStringLiteral("COLI_STANDIN_SCRIPT"), app.home() + QStringLiteral("/script.txt"));
        app.environment().insert(QStringLiteral("COLI_STANDIN_LOG"), standInLog());
        app.environment().insert(QStringLiteral("COLI_STANDIN_IGNORE_EOF"), QStringLiteral("1"));
        const QString toneFile = app.home() + QStringLiteral("/tone.raw");
        write(toneFile, toneBuffer(440, 48000 * 60, 48000, 2, SampleFormat::float32, 0, 0.5).bytes);
        tone.setStandardInputFile(toneFile);
    }
    ~DictatingApp() {
        tone.kill();
        tone.waitForFinished(5000);
    }
    static void write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
        f.write(bytes);
    }
    QString standInLog() const { return app.home() + QStringLiteral("/standin.log"); }
    QProcessEnvironment& environment() { return app.environment(); }

    // Starts the tone and the application and waits until the speech process is up.
    void launch() {
        tone.start(QStringLiteral("pacat"),
                   {QStringLiteral("--playback"), QStringLiteral("--device=vocalynx_sink"),
                    QStringLiteral("--format=float32le"), QStringLiteral("--rate=48000"), QStringLiteral("--channels=2"),
                    QStringLiteral("--raw"), QStringLiteral("--latency-msec=50")});
        ASSERT_TRUE(tone.waitForStarted(5000));
        app.start(QStringLiteral(VOCALYNX_APP_BINARY));
        ASSERT_TRUE(app.waitForLine("[Vocalynx] Persistent coli launched (model loading...)")) << app.output().toStdString();
    }
    int count(const char* part) { return app.output().count(QString::fromUtf8(part)); }
    bool waitForCount(const char* part, int n, int timeoutMs = 15000) {
        QDeadlineTimer deadline(timeoutMs);
        while (count(part) < n) {
            if (deadline.hasExpired() || app.process().state() == QProcess::NotRunning) return false;
            app.waitForLine(QStringLiteral("\x01 never printed"), 100);
        }
        return true;
    }
    // Presses play/pause and waits until the recording hears the microphone.
    void startDictation(QDBusConnection bus) {
        const int n = count("[Vocalynx] Recording started") + 1;
        callPlayer(bus, QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("PlayPause"));
        ASSERT_TRUE(waitForCount("[Vocalynx] Recording started", n)) << app.output().toStdString();
        ASSERT_TRUE(waitForCount("micReady", n)) << app.output().toStdString();
    }
    // One whole dictation, until its words are typed.
    void dictate(QDBusConnection bus) {
        const int n = count("[Vocalynx] Keyboard injection done (11 chars)") + 1;
        startDictation(bus);
        QThread::msleep(300);
        callPlayer(bus, QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("PlayPause"));
        ASSERT_TRUE(waitForCount("[Vocalynx] Keyboard injection done (11 chars)", n)) << app.output().toStdString();
    }
    // Whether every speech process the application started has ended.
    bool speechProcessesEnded() {
        return waitFor([&] {
            for (pid_t pid : startedPids(standInLog()))
                if (QFile::exists(QStringLiteral("/proc/%1").arg(pid))) return false;
            return true;
        });
    }
    // The settings files and their contents.
    std::map<QString, QByteArray> settings() const {
        std::map<QString, QByteArray> out;
        const QDir dir(app.home() + QStringLiteral("/.config/vocalynx"));
        for (const QString& name : dir.entryList(QDir::Files)) {
            QFile f(dir.filePath(name));
            if (f.open(QIODevice::ReadOnly)) out[name] = f.readAll();
        }
        return out;
    }
    // Expects the application to end by itself, in order, with a line that says why.
    void expectOrderlyEnd(const char* line) {
        ASSERT_TRUE(app.waitForExit(15000)) << "still running\n" << app.output().toStdString();
        EXPECT_EQ(app.process().exitStatus(), QProcess::NormalExit) << "ended by a signal\n"
                                                                     << app.output().toStdString();
        EXPECT_TRUE(app.output().contains(QString::fromUtf8(line))) << app.output().toStdString();
        EXPECT_TRUE(speechProcessesEnded()) << "a speech process outlived the application";
    }

    AppProcess app;
    QProcess tone;
};

// A program the test owns and ends itself, as a desktop session ends its X server or its bus.
class OwnService {
public:
    ~OwnService() { end(); }
    void start(const QString& program, const QStringList& arguments) {
        process.setProgram(program);
        process.setArguments(arguments);
        process.start();
        ASSERT_TRUE(process.waitForStarted(5000)) << program.toStdString();
    }
    // The first line the program prints (its display number, its bus address).
    QString firstLine() {
        QDeadlineTimer deadline(10000);
        while (!process.canReadLine() && !deadline.hasExpired()) process.waitForReadyRead(100);
        return QString::fromUtf8(process.readLine()).trimmed();
    }
    void end() {
        if (process.state() == QProcess::NotRunning) return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    QProcess process;
};

}  // namespace

// Whatever another user (or another program) put at the silent clip's place, in the folder the
// application keeps it in or at the shared one it used to: the launch completes, the media player
// answers on the bus, a dictation types its words, and the application's own clip ends up a 0600
// file of the size it writes, without a link or anyone else's file being followed or read.
TEST(SessionServices, AnythingPlantedAtTheSilentClipsPlaceNeitherFreezesNorSilencesTheLaunch) {
    const QByteArray clip = SilentPlayerKeeper::silentClipWav();
    enum class Where { privateFolder, sharedFolder, privateFolderWithoutRuntimeFolder };
    struct Case {
        std::string name;
        Where where;
        // Plants something at the path; the folder for anything it needs besides.
        std::function<void(const QString& path, const QString& aside)> plant;
    };
    const auto fifo = [](const QString& path, const QString&) {
        ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0666), 0);
    };
    const auto huge = [](const QString& path, const QString&) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(qint64(1) << 30));  // sparse
    };
    const auto empty = [](const QString& path, const QString&) { DictatingApp::write(path, {}); };
    const auto folder = [](const QString& path, const QString&) {
        ASSERT_TRUE(QDir().mkpath(path + QStringLiteral("/inside")));
    };
    // A link to a pipe: following it would wait for a writer for ever.
    const auto linkToPipe = [](const QString& path, const QString& aside) {
        const QString target = aside + QStringLiteral("/not-yours");
        ASSERT_EQ(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
        ASSERT_TRUE(QFile::link(target, path));
    };
    // The clip itself, but writable by anyone.
    const auto otherMode = [clip](const QString& path, const QString&) {
        DictatingApp::write(path, clip);
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0666), 0);
    };
    const std::pair<const char*, std::function<void(const QString&, const QString&)>> plants[] = {
        {"pipe", fifo},   {"1 GiB file", huge},          {"empty file", empty},
        {"folder", folder}, {"link to a pipe", linkToPipe}, {"clip of another mode", otherMode},
    };
    std::vector<Case> cases;
    for (const auto& [where, place] : {std::pair{Where::privateFolder, " in the private folder"},
                                       std::pair{Where::sharedFolder, " at the shared path"}})
        for (const auto& [what, plant] : plants) cases.push_back({what + std::string(place), where, plant});
    // Without a runtime folder the private folder is made in the shared one; a pipe already holding
    // its name makes it choose another.
    cases.push_back({"pipe holding the private folder's name", Where::privateFolderWithoutRuntimeFolder, fifo});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString shared = dir.filePath(QStringLiteral("tmp"));
        const QString runtime = dir.filePath(QStringLiteral("run"));
        const QString aside = dir.filePath(QStringLiteral("aside"));
        ASSERT_TRUE(QDir().mkpath(shared) && QDir().mkpath(runtime) && QDir().mkpath(aside));
        ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(runtime).constData(), 0700), 0);
        QString planted;
        QString ownClip;  // where the application keeps its clip
        switch (c.where) {
        case Where::privateFolder:
            ASSERT_TRUE(QDir().mkpath(runtime + QStringLiteral("/vocalynx")));
            planted = ownClip = runtime + QStringLiteral("/vocalynx/vocalynx_silence.wav");
            break;
        case Where::sharedFolder:
            planted = shared + QStringLiteral("/vocalynx_silence.wav");
            ownClip = runtime + QStringLiteral("/vocalynx/vocalynx_silence.wav");
            break;
        case Where::privateFolderWithoutRuntimeFolder:
            planted = shared + QStringLiteral("/vocalynx-%1").arg(::geteuid());
            break;
        }
        c.plant(planted, aside);
        if (testing::Test::HasFatalFailure()) return;
        const FileState before = fileState(planted);

        DictatingApp app;
        app.environment().insert(QStringLiteral("TMPDIR"), shared);
        if (c.where == Where::privateFolderWithoutRuntimeFolder)
            app.environment().remove(QStringLiteral("XDG_RUNTIME_DIR"));
        else
            app.environment().insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        app.launch();
        if (testing::Test::HasFatalFailure()) return;
        EXPECT_TRUE(app.app.waitForLine("[Vocalynx] Silent AVAudioPlayer running: true")) << app.app.output().toStdString();
        EXPECT_TRUE(playerAnswers(QDBusConnection::sessionBus()));
        app.dictate(QDBusConnection::sessionBus());
        if (testing::Test::HasFatalFailure()) return;

        if (ownClip.isEmpty()) {
            const QStringList made = QDir(shared).entryList({QStringLiteral("vocalynx-*")}, QDir::Dirs);
            ASSERT_EQ(made.size(), 1) << made.join(u' ').toStdString();
            ownClip = shared + u'/' + made.first() + QStringLiteral("/vocalynx_silence.wav");
            EXPECT_EQ(fileState(QFileInfo(ownClip).path()).mode & 07777, 0700u);
        }
        const FileState own = fileState(ownClip);
        EXPECT_TRUE(S_ISREG(own.mode)) << std::oct << own.mode;
        EXPECT_EQ(own.mode & 07777, 0600u) << std::oct << own.mode;
        EXPECT_EQ(own.size, clip.size());
        if (planted != ownClip) {
            const FileState after = fileState(planted);
            EXPECT_TRUE(after.exists && after.mode == before.mode && after.size == before.size)
                << "what is not in our own folder is left as it was";
        }
        if (const FileState target = fileState(aside + QStringLiteral("/not-yours")); target.exists) {
            EXPECT_TRUE(S_ISFIFO(target.mode)) << "the link's target is left alone";
        }
    }
}

// At logout the X server goes away, often in the middle of a dictation: the application ends by
// itself, in order (its speech process ended, its settings as they were), never by a crash; the
// same in every run, since the fault it guards against shows in some runs only.
TEST(SessionServices, TheXServerGoingAwayMidDictationEndsTheApplicationInOrder) {
    for (int run = 1; run <= 4; ++run) {
        SCOPED_TRACE(run);
        OwnService xserver;
        xserver.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                              QStringLiteral("0"), QStringLiteral("1280x800x24"),
                                              QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (testing::Test::HasFatalFailure()) return;
        const QString display = xserver.firstLine();
        ASSERT_FALSE(display.isEmpty());

        DictatingApp app;
        app.environment().insert(QStringLiteral("DISPLAY"), u':' + display);
        app.launch();
        if (testing::Test::HasFatalFailure()) return;
        app.startDictation(QDBusConnection::sessionBus());
        if (testing::Test::HasFatalFailure()) return;
        ASSERT_TRUE(app.waitForCount("[Vocalynx] First PCM chunk", 1)) << app.app.output().toStdString();
        const auto settings = app.settings();
        ASSERT_FALSE(settings.empty());

        xserver.end();
        app.expectOrderlyEnd("[Vocalynx] The connection to the X server was lost; ending");
        EXPECT_EQ(app.settings(), settings);
        for (const auto& [name, bytes] : app.settings())
            EXPECT_EQ(QSettings(app.app.home() + QStringLiteral("/.config/vocalynx/") + name, QSettings::IniFormat).status(),
                      QSettings::NoError)
                << name.toStdString();
    }
}

// The session bus restarting (at the same address) leaves no application that can no longer hear
// its headset: it ends in order with a line that says why.
TEST(SessionServices, TheSessionBusRestartingNeverLeavesTheApplicationDeaf) {
    QTemporaryDir dir;
    const QString address = QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("bus"));
    const QStringList busArguments{QStringLiteral("--session"), QStringLiteral("--nofork"),
                                   QStringLiteral("--address=") + address, QStringLiteral("--print-address=1")};
    OwnService bus;
    bus.start(QStringLiteral("dbus-daemon"), busArguments);
    if (testing::Test::HasFatalFailure()) return;
    ASSERT_FALSE(bus.firstLine().isEmpty());

    DictatingApp app;
    app.environment().insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    app.launch();
    if (testing::Test::HasFatalFailure()) return;
    {
        QDBusConnection connection = QDBusConnection::connectToBus(address, QStringLiteral("first bus"));
        ASSERT_TRUE(waitFor([&] { return playerAnswers(connection); })) << app.app.output().toStdString();
        app.dictate(connection);
        if (testing::Test::HasFatalFailure()) return;
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("first bus"));

    bus.end();
    bus.start(QStringLiteral("dbus-daemon"), busArguments);
    if (testing::Test::HasFatalFailure()) return;
    ASSERT_FALSE(bus.firstLine().isEmpty());
    app.expectOrderlyEnd("[Vocalynx] The session bus connection was lost");
}
