// The media service with its real adapters on the private session bus: a stand-in MPRIS player
// of ours stands for Spotify or another player, and a loopback HTTP server serves artwork and
// search answers.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTcpServer>
#include <QTimer>
#include <atomic>
#include <future>
#include <memory>
#include <thread>

#include "FakeCapture.h"
#include "FakeSoundOutput.h"
#include "LiveRuntime.h"
#include "LoopbackHttpServer.h"
#include "SpeechHome.h"
#include "core/ConfigStore.h"
#include "core/SoundFeedback.h"
#include "engine/WhisperEngine.h"
#include "gestures/MediaRemoteService.h"
#include "platform/linux/MprisRunningPlayers.h"
#include "platform/linux/MprisMusicPlayers.h"
#include "platform/linux/PosixProcessLauncher.h"
#include "platform/linux/QtHttpClient.h"
#include "platform/linux/QtImageDecoder.h"
#include "platform/linux/SampleRateConverter.h"

namespace vocalynx::test {
namespace {

QByteArray pngOf(const QImage& image) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QByteArray solidPng(int width, int height, QRgb color, QImage::Format format = QImage::Format_ARGB32) {
    QImage image(width, height, format);
    image.fill(color);
    return pngOf(image);
}

QByteArray solidPng(int size, QRgb color) { return solidPng(size, size, color); }

// Once started, opens the FIFO for writing now and then until it is destroyed. That lets a reader
// waiting in open() go on (to an empty read), so that a fault leaves a failed test, not a hung one.
class FifoReleaser {
public:
    explicit FifoReleaser(QString path) : path_(std::move(path)) {}
    void start() {
        if (thread_.joinable()) return;
        thread_ = std::thread([this, native = QFile::encodeName(path_)] {
            while (!stop_.load()) {
                const int fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) ::close(fd);
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        });
    }
    ~FifoReleaser() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

private:
    QString path_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// One stand-in player process.
class StandInPlayer {
public:
    explicit StandInPlayer(const QStringList& arguments) {
        process_.setProgram(QStringLiteral(VOCALYNX_TEST_TOOLS_DIR "/mpris_stand_in_player"));
        process_.setArguments(arguments);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
    }
    ~StandInPlayer() {
        if (process_.state() != QProcess::NotRunning) {
            ::kill(pid_t(process_.processId()), SIGCONT);
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    bool waitForLine(const QString& line, int timeoutMs = 10000) {
        return processEventsUntil([&] { return lines().contains(line); }, timeoutMs);
    }
    bool waitForLine(const char* line, int timeoutMs = 10000) {
        return waitForLine(QString::fromUtf8(line), timeoutMs);
    }
    QStringList lines() {
        output_ += QString::fromUtf8(process_.readAllStandardOutput());
        return output_.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QStringList calls() {
        QStringList out;
        for (const QString& line : lines())
            if (line.startsWith(QLatin1String("call "))) out << line;
        return out;
    }
    void send(const QString& line) {
        process_.write((line + QLatin1Char('\n')).toUtf8());
        waitForLine(QStringLiteral("ok ") + line.section(QLatin1Char(' '), 0, 0));
    }
    QProcess& process() { return process_; }

private:
    QProcess process_;
    QString output_;
};

class MediaServiceIntegration : public ::testing::Test {
protected:
    // Player calls give up after half a second unless told otherwise, so that tests of players that
    // hang end soon.
    explicit MediaServiceIntegration(int playerTimeoutMs = 500) : playerTimeoutMs_(playerTimeoutMs) {}
    void SetUp() override { ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "needs the private session bus"; }

    // Declared in this order so that the runtime's worker threads end before the ports they use.
    int playerTimeoutMs_;
    QApplication& app = guiApplication();
    LoopbackHttpServer web;
    QtHttpClient http{5000};
    MprisRelays relays;
    MprisMusicPlayers musicPlayers{http, relays, QDBusConnection::sessionBus(), playerTimeoutMs_};
    MprisRunningPlayers players;
    QtImageDecoder images;
    LiveRuntime live;
    MediaRemoteService media{{live.runtime(), musicPlayers, players, http, images, QUrl(web.base())}};
};

TEST_F(MediaServiceIntegration, ReadsTheTrackArtworkAndAccentColourOfSpotify) {
    web.serve(QStringLiteral("/art/cover.png"), solidPng(4, qRgb(51, 102, 204)));
    StandInPlayer spotify({QStringLiteral("--title"), QStringLiteral("Song"), QStringLiteral("--artist"),
                           QStringLiteral("Singer"), QStringLiteral("--album"), QStringLiteral("Record"),
                           QStringLiteral("--art-url"), web.base() + QStringLiteral("/art/cover.png")});
    ASSERT_TRUE(spotify.waitForLine("ready"));
    media.startMonitoring();
    ASSERT_TRUE(processEventsUntil([&] { return media.artworkAccentColor().has_value(); }));
    EXPECT_EQ(media.activePlayer(), kSpotifyPlayer);
    EXPECT_EQ(media.trackTitle(), QStringLiteral("Song"));
    EXPECT_EQ(media.artist(), QStringLiteral("Singer"));
    EXPECT_EQ(media.album(), QStringLiteral("Record"));
    EXPECT_TRUE(media.isPlaying());
    ASSERT_TRUE(media.artwork());
    EXPECT_EQ(media.artwork()->width, 4);
    EXPECT_EQ(media.artworkAccentColor(), (AccentColor{0.2, 0.4, 0.8, 1}));
    EXPECT_EQ(media.automationWarning(), std::nullopt);
}

TEST_F(MediaServiceIntegration, CommandsAndTheRecordingPauseReachThePlayer) {
    StandInPlayer spotify({QStringLiteral("--title"), QStringLiteral("Song"), QStringLiteral("--artist"),
                           QStringLiteral("Singer"), QStringLiteral("--album"), QStringLiteral("Record")});
    ASSERT_TRUE(spotify.waitForLine("ready"));
    media.startMonitoring();
    ASSERT_TRUE(processEventsUntil([&] { return media.isPlaying(); }));

    ASSERT_TRUE(media.sendCommand(MediaCommand::toggle));
    EXPECT_FALSE(media.isPlaying());
    ASSERT_TRUE(spotify.waitForLine("call PlayPause"));
    // The refresh polls read the paused state back; give them time to confirm it.
    ASSERT_TRUE(processEventsUntil([&] { return spotify.calls().size() == 1 && !media.isPlaying(); }));
    ASSERT_TRUE(media.sendCommand(MediaCommand::toggle));
    ASSERT_TRUE(processEventsUntil([&] { return spotify.calls().size() == 2; }));
    ASSERT_TRUE(processEventsUntil([&] { return media.isPlaying(); }));

    // A recording while the player plays pauses it and resumes it afterwards.
    media.pauseForRecording();
    ASSERT_TRUE(spotify.waitForLine("call Pause"));
    media.resumeAfterRecording();
    ASSERT_TRUE(spotify.waitForLine("call Play"));
    ASSERT_TRUE(processEventsUntil([&] { return media.isPlaying(); }));

    // A recording while nothing plays sends nothing: the next command is the next call to arrive.
    spotify.send(QStringLiteral("status Paused"));
    media.pollNowPlaying();
    ASSERT_TRUE(processEventsUntil([&] { return !media.isPlaying(); }));
    media.pauseForRecording();
    media.resumeAfterRecording();
    ASSERT_TRUE(media.sendCommand(MediaCommand::next));
    ASSERT_TRUE(spotify.waitForLine("call Next"));
    EXPECT_EQ(spotify.calls().mid(0, 5),
              QStringList({QStringLiteral("call PlayPause"), QStringLiteral("call PlayPause"),
                           QStringLiteral("call Pause"), QStringLiteral("call Play"), QStringLiteral("call Next")}));
}

TEST_F(MediaServiceIntegration, AnyOtherPlayerIsMusicButOurOwnNeverCounts) {
    StandInPlayer own({QStringLiteral("--name"), QStringLiteral("org.mpris.MediaPlayer2.vocalynx"),
                       QStringLiteral("--title"), QStringLiteral("Vocalynx")});
    ASSERT_TRUE(own.waitForLine("ready"));
    media.startMonitoring();
    EXPECT_TRUE(media.bookkeeping().runningPlayers.isEmpty());
    EXPECT_EQ(media.bookkeeping().targetPlayer, QString());

    QTemporaryDir dir;
    const QString cover = dir.filePath(QStringLiteral("cover.png"));
    {
        QFile f(cover);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(solidPng(2, qRgb(255, 0, 0)));
    }
    StandInPlayer other({QStringLiteral("--name"), QStringLiteral("org.mpris.MediaPlayer2.standin"),
                         QStringLiteral("--title"), QStringLiteral("Local"), QStringLiteral("--artist"),
                         QStringLiteral("Band"), QStringLiteral("--album"), QStringLiteral("Disc"),
                         QStringLiteral("--art-url"), QUrl::fromLocalFile(cover).toString()});
    ASSERT_TRUE(other.waitForLine("ready"));
    ASSERT_TRUE(processEventsUntil([&] { return media.bookkeeping().runningPlayers.contains(kMusicPlayer); }));
    media.pollNowPlaying();
    ASSERT_TRUE(processEventsUntil([&] { return media.artworkAccentColor().has_value(); }));
    EXPECT_EQ(media.activePlayer(), kMusicPlayer);
    EXPECT_EQ(media.trackTitle(), QStringLiteral("Local"));
    EXPECT_EQ(media.artworkAccentColor(), (AccentColor{1, 0, 0, 1}));
    EXPECT_EQ(media.bookkeeping().artworkVersion,
              trackKey(kMusicPlayer, QStringLiteral("Local"), QStringLiteral("Band"), QStringLiteral("Disc")) +
                  QStringLiteral("||1"));
    EXPECT_TRUE(web.requests().isEmpty()) << "the player's own artwork needs no search";
}

TEST_F(MediaServiceIntegration, ArtworkIsSearchedWhenThePlayerHasNone) {
    web.serve(QStringLiteral("/search?term=Song%20Singer%20Record&media=music&limit=10"),
              QByteArray(R"({"results":[{"collectionName":"Other","artworkUrl100":")") + web.base().toLatin1() +
                  R"(/other/100x100bb.png"},{"collectionName":"record","artworkUrl100":")" + web.base().toLatin1() +
                  R"(/cover/100x100bb.png"}]})");
    web.serve(QStringLiteral("/cover/600x600bb.png"), solidPng(3, qRgb(0, 255, 0)));
    StandInPlayer spotify({QStringLiteral("--title"), QStringLiteral("Song"), QStringLiteral("--artist"),
                           QStringLiteral("Singer"), QStringLiteral("--album"), QStringLiteral("Record")});
    ASSERT_TRUE(spotify.waitForLine("ready"));
    media.startMonitoring();
    ASSERT_TRUE(processEventsUntil([&] { return media.artworkAccentColor().has_value(); }));
    EXPECT_EQ(media.artworkAccentColor(), (AccentColor{0, 1, 0, 1}));
    EXPECT_EQ(web.requests(), QStringList({QStringLiteral("/search?term=Song%20Singer%20Record&media=music&limit=10"),
                                           QStringLiteral("/cover/600x600bb.png")}));
}

// The artwork address is the player's to choose, and a small file may hold a picture of any size:
// what the card keeps is cut down to a bounded size, and a file that claims a huge picture is
// never decoded at all (it would be decoded, converted and copied in full, on the main thread).
TEST_F(MediaServiceIntegration, ArtworkOfAnySizeIsHeldBounded) {
    const int side = 640;  // the longest side kept
    const struct {
        const char* name;
        QString target;
        QByteArray png;
        std::optional<QSize> shown;
    } cases[] = {
        {"a cover within the bound", QStringLiteral("/art/cover.png"), solidPng(300, qRgb(0, 0, 255)), QSize(300, 300)},
        {"a wide picture over the bound", QStringLiteral("/art/wide.png"), solidPng(4 * side, 2 * side, qRgb(255, 0, 0)),
         QSize(side, side / 2)},
        {"a small file that holds 25 megapixels", QStringLiteral("/art/huge.png"),
         solidPng(5000, 5000, qRgb(0, 0, 0), QImage::Format_Grayscale8), std::nullopt},
    };
    StandInPlayer spotify({QStringLiteral("--title"), QStringLiteral("Song"), QStringLiteral("--artist"),
                           QStringLiteral("Singer"), QStringLiteral("--album"), QStringLiteral("Record")});
    ASSERT_TRUE(spotify.waitForLine("ready"));
    media.startMonitoring();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LT(c.png.size(), 1024 * 1024);
        web.serve(c.target, c.png);
        const QString address = web.base() + c.target;
        spotify.send(QStringLiteral("art-url ") + address);
        ASSERT_TRUE(processEventsUntil([&] {
            media.pollNowPlaying();
            return media.bookkeeping().artworkVersion.endsWith(address);
        }));
        ASSERT_EQ(media.artwork().has_value(), c.shown.has_value());
        if (c.shown) {
            EXPECT_EQ(QSize(media.artwork()->width, media.artwork()->height), *c.shown);
        }
    }
}

// Two tracks of one album share the artwork the search finds. The second track's search asks for
// that address while the first track's search is still downloading it: a download refused for
// that is no miss, and the second track gets its artwork.
TEST_F(MediaServiceIntegration, ASearchRefusedWhileTheSameArtworkIsFetchedIsNoMiss) {
    const QByteArray answer = QByteArray(R"({"results":[{"collectionName":"Record","artworkUrl100":")") +
                              web.base().toLatin1() + R"(/cover/100x100bb.png"}]})";
    const QString searchTwo = QStringLiteral("/search?term=Two%20Singer%20Record&media=music&limit=10");
    web.serve(QStringLiteral("/search?term=One%20Singer%20Record&media=music&limit=10"), answer);
    web.serve(searchTwo, answer);
    web.serveAfter(QStringLiteral("/cover/600x600bb.png"), solidPng(3, qRgb(0, 0, 255)), 1500);
    StandInPlayer spotify({QStringLiteral("--title"), QStringLiteral("One"), QStringLiteral("--artist"),
                           QStringLiteral("Singer"), QStringLiteral("--album"), QStringLiteral("Record")});
    ASSERT_TRUE(spotify.waitForLine("ready"));
    media.startMonitoring();
    ASSERT_TRUE(processEventsUntil([&] { return web.requests().contains(QStringLiteral("/cover/600x600bb.png")); }));
    spotify.send(QStringLiteral("title Two"));
    media.pollNowPlaying();
    ASSERT_TRUE(processEventsUntil([&] { return web.requests().contains(searchTwo); }));
    // The next polls search again once the first download is over.
    EXPECT_TRUE(processEventsUntil([&] { return media.artworkAccentColor().has_value(); }, 20000))
        << web.requests().join(u' ').toStdString();
    EXPECT_EQ(media.trackTitle(), QStringLiteral("Two"));
    EXPECT_EQ(media.artworkAccentColor(), (AccentColor{0, 0, 1, 1}));
    EXPECT_TRUE(media.bookkeeping().failedArtworkKeys.isEmpty());
}

TEST_F(MediaServiceIntegration, APlayerThatHangsOrVanishesNeverBlocksTheMainThread) {
    StandInPlayer spotify({QStringLiteral("--title"), QStringLiteral("Song"), QStringLiteral("--artist"),
                           QStringLiteral("Singer"), QStringLiteral("--album"), QStringLiteral("Record")});
    ASSERT_TRUE(spotify.waitForLine("ready"));
    media.startMonitoring();
    ASSERT_TRUE(processEventsUntil([&] { return media.trackTitle() == QStringLiteral("Song"); }));

    // A player that stops answering: the poll gives up after its timeout, and meanwhile the
    // main thread keeps running.
    ::kill(pid_t(spotify.process().processId()), SIGSTOP);
    media.pollNowPlaying();
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    ASSERT_TRUE(processEventsUntil([&] { return media.trackTitle().isEmpty(); }));
    EXPECT_GE(ticks, 3) << "the main thread ran while the player hung";
    EXPECT_TRUE(media.sendCommand(MediaCommand::toggle)) << "the player still owns its name";

    // A player that goes away: its name leaves the bus and the next poll clears everything.
    ::kill(pid_t(spotify.process().processId()), SIGKILL);
    ::kill(pid_t(spotify.process().processId()), SIGCONT);
    ASSERT_TRUE(processEventsUntil([&] { return media.bookkeeping().runningPlayers.isEmpty(); }));
    media.pollNowPlaying();
    ASSERT_TRUE(processEventsUntil([&] { return media.activePlayer().isEmpty() && !media.isPlaying(); }));
    EXPECT_FALSE(media.sendCommand(MediaCommand::toggle));
}

TEST_F(MediaServiceIntegration, ThePlayersAreReadAndCommandedOverMpris) {
    QTemporaryDir dir;
    const QString cover = dir.filePath(QStringLiteral("cover.png"));
    {
        QFile f(cover);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("cover bytes");
    }
    StandInPlayer spotify({QStringLiteral("--status"), QStringLiteral("Stopped"), QStringLiteral("--title"),
                           QStringLiteral("T"), QStringLiteral("--artist"), QStringLiteral("A"),
                           QStringLiteral("--album"), QStringLiteral("L")});
    StandInPlayer other({QStringLiteral("--name"), QStringLiteral("org.mpris.MediaPlayer2.standin"),
                         QStringLiteral("--status"), QStringLiteral("Paused"), QStringLiteral("--title"),
                         QStringLiteral("Local"), QStringLiteral("--artist"), QStringLiteral("Band"),
                         QStringLiteral("--album"), QStringLiteral("Disc"), QStringLiteral("--art-url"),
                         QUrl::fromLocalFile(cover).toString()});
    ASSERT_TRUE(spotify.waitForLine("ready"));
    ASSERT_TRUE(other.waitForLine("ready"));

    EXPECT_EQ(musicPlayers.status(kSpotifyPlayer), std::nullopt) << "stopped";
    EXPECT_EQ(musicPlayers.status(kMusicPlayer),
              (PlayerTrack{false, QStringLiteral("Local"), QStringLiteral("Band"), QStringLiteral("Disc")}));
    EXPECT_EQ(musicPlayers.artworkAddress(kMusicPlayer), QUrl::fromLocalFile(cover).toString());
    EXPECT_EQ(musicPlayers.artworkAddress(kSpotifyPlayer), QString());
    EXPECT_EQ(musicPlayers.artworkData(kMusicPlayer), QByteArray("cover bytes"));
    EXPECT_EQ(musicPlayers.artworkData(kSpotifyPlayer), std::nullopt);

    const QStringList before = other.calls();
    EXPECT_TRUE(musicPlayers.command(kMusicPlayer, PlayerCommand::toggle));
    EXPECT_TRUE(musicPlayers.command(kMusicPlayer, PlayerCommand::next));
    EXPECT_TRUE(other.waitForLine("call Play"));
    EXPECT_EQ(
        other.calls().mid(before.size()),
        QStringList({QStringLiteral("call PlayPause"), QStringLiteral("call Next"), QStringLiteral("call Play")}));
    EXPECT_FALSE(musicPlayers.command(QStringLiteral("Another"), PlayerCommand::pause)) << "an unknown player";

    // A player that is gone is an error.
    spotify.process().kill();
    spotify.process().waitForFinished();
    ASSERT_TRUE(processEventsUntil([&] { return !players.scanRunningPlayers().contains(kSpotifyPlayer); }));
    EXPECT_FALSE(musicPlayers.command(kSpotifyPlayer, PlayerCommand::pause));
    EXPECT_EQ(musicPlayers.status(kSpotifyPlayer), std::nullopt);
}

// A player's texts reach the card as the player sent them, whatever they hold; a text longer than
// the card keeps is cut.
TEST_F(MediaServiceIntegration, TrackTextsArriveWholeAndOverlongOnesCut) {
    QString huge;
    for (int i = 0; i < 10000; ++i) huge += QStringLiteral("0123456789");
    const struct {
        const char* name;
        QString title, artist, album;
        QString shownTitle;
    } cases[] = {
        {"the separator of a text protocol in each text", QStringLiteral("A||B"), QStringLiteral("C||D||"),
         QStringLiteral("||"), QStringLiteral("A||B")},
        {"a title of 100,000 characters", huge, QStringLiteral("Singer"), QStringLiteral("Record"), huge.left(1000)},
    };
    media.startMonitoring();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StandInPlayer spotify({QStringLiteral("--title"), c.title, QStringLiteral("--artist"), c.artist,
                               QStringLiteral("--album"), c.album});
        ASSERT_TRUE(spotify.waitForLine("ready"));
        EXPECT_TRUE(processEventsUntil([&] {
            media.pollNowPlaying();
            return media.trackTitle() == c.shownTitle;
        })) << media.trackTitle().left(80).toStdString();
        EXPECT_EQ(media.artist(), c.artist);
        EXPECT_EQ(media.album(), c.album);
    }
}

// Any bus client can take a player's name and answer its metadata in whatever shape it likes. A
// map of variants is read; any other shape reads as no metadata (the status and the artwork give
// nothing), and the reading never runs past the values it was given.
TEST_F(MediaServiceIntegration, MetadataInAnotherShapeReadsAsNone) {
    StandInPlayer spotify({QStringLiteral("--title"), QStringLiteral("T"), QStringLiteral("--artist"),
                           QStringLiteral("A"), QStringLiteral("--album"), QStringLiteral("L"),
                           QStringLiteral("--art-url"), QStringLiteral("https://art.test/a")});
    ASSERT_TRUE(spotify.waitForLine("ready"));
    auto answerIn = [&](const QString& shape) {
        spotify.process().write((QStringLiteral("metadata ") + shape + QLatin1Char('\n')).toUtf8());
        return spotify.waitForLine(QStringLiteral("ok metadata ") + shape);
    };
    for (const char* shape : {"a{ss}", "a{si}", "as"}) {
        SCOPED_TRACE(shape);
        ASSERT_TRUE(answerIn(QString::fromLatin1(shape)));
        EXPECT_EQ(musicPlayers.status(kSpotifyPlayer), std::nullopt);
        EXPECT_EQ(musicPlayers.artworkAddress(kSpotifyPlayer), std::nullopt);
    }
    ASSERT_TRUE(answerIn(QStringLiteral("a{sv}")));
    EXPECT_EQ(musicPlayers.status(kSpotifyPlayer),
              (PlayerTrack{true, QStringLiteral("T"), QStringLiteral("A"), QStringLiteral("L")}));
    EXPECT_EQ(musicPlayers.artworkAddress(kSpotifyPlayer), QStringLiteral("https://art.test/a"));
}

// The speech engine with the stand-in speech program and a fake microphone, pausing the media
// service's player for its recordings.
struct Dictations {
    Dictations(Runtime& runtime, MediaRemoteService& media)
        : config((prepareStandInHome(runtime.paths.home), runtime)),
          engine({runtime, config, sounds, nullptr, &media, &capture, nullptr, &launcher}) {}
    ~Dictations() { engine.shutdown(); }

    ConfigStore config;
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    FakeCaptureSystem capture;
    PosixProcessLauncher launcher;
    WhisperEngine engine;
};

// A dictation through the speech engine: it pauses the player that plays and resumes it once the
// recording is over; a dictation while nothing plays sends the player nothing.
TEST_F(MediaServiceIntegration, ADictationPausesThePlayingPlayerAndResumesItAfterwards) {
    Dictations rig{live.runtime(), media};
    FakeCaptureSystem& capture = rig.capture;
    WhisperEngine& engine = rig.engine;
    auto dictate = [&] {
        engine.startRecording([](const QString&) {});
        if (!processEventsUntil([&] { return !capture.made().empty() && capture.made().back()->isRunning(); })) return false;
        engine.stopRecording();
        return processEventsUntil([&] { return engine.state() == RecordingState::idle; });
    };

    StandInPlayer spotify({QStringLiteral("--title"), QStringLiteral("Song"), QStringLiteral("--artist"),
                           QStringLiteral("Singer"), QStringLiteral("--album"), QStringLiteral("Record")});
    ASSERT_TRUE(spotify.waitForLine("ready"));
    media.startMonitoring();
    ASSERT_TRUE(processEventsUntil([&] { return media.isPlaying(); }));

    engine.startRecording([](const QString&) {});
    ASSERT_TRUE(spotify.waitForLine("call Pause"));
    EXPECT_FALSE(media.isPlaying());
    ASSERT_TRUE(processEventsUntil([&] { return !capture.made().empty() && capture.made().back()->isRunning(); }));
    engine.stopRecording();
    ASSERT_TRUE(spotify.waitForLine("call Play"));
    ASSERT_TRUE(processEventsUntil([&] { return engine.state() == RecordingState::idle; }));
    ASSERT_TRUE(processEventsUntil([&] { return media.isPlaying(); }));
    EXPECT_EQ(spotify.calls(), QStringList({QStringLiteral("call Pause"), QStringLiteral("call Play")}));

    // Nothing plays: the next dictation leaves the player alone, so the next command is the next
    // call the player sees.
    spotify.send(QStringLiteral("status Paused"));
    media.pollNowPlaying();
    ASSERT_TRUE(processEventsUntil([&] { return !media.isPlaying(); }));
    ASSERT_TRUE(dictate());
    ASSERT_TRUE(media.sendCommand(MediaCommand::toggle));
    ASSERT_TRUE(spotify.waitForLine("call PlayPause"));
    EXPECT_EQ(spotify.calls(), QStringList({QStringLiteral("call Pause"), QStringLiteral("call Play"),
                                            QStringLiteral("call PlayPause")}));
    engine.shutdown();
}

// A slow player and a dictation so short that its resume is given while the player still works on
// the pause: the resume comes as the speech process has drained (0.8 s after the stop), the pause
// takes the player 1.2 s, within the 1.5 s a player call may take. The play reaches the player only
// after the pause, and the music ends up playing.
class MediaServiceAtTheUsualTimeout : public MediaServiceIntegration {
protected:
    MediaServiceAtTheUsualTimeout() : MediaServiceIntegration(1500) {}
};

TEST_F(MediaServiceAtTheUsualTimeout, TheResumeOfAShortDictationNeverOvertakesItsPause) {
    Dictations rig{live.runtime(), media};
    StandInPlayer spotify({QStringLiteral("--title"), QStringLiteral("Song"), QStringLiteral("--pause-delay"),
                           QStringLiteral("1200")});
    ASSERT_TRUE(spotify.waitForLine("ready"));
    media.startMonitoring();
    ASSERT_TRUE(processEventsUntil([&] { return media.isPlaying(); }));

    rig.engine.startRecording([](const QString&) {});
    ASSERT_TRUE(spotify.waitForLine("call Pause"));
    ASSERT_TRUE(processEventsUntil([&] { return !rig.capture.made().empty() && rig.capture.made().back()->isRunning(); }));
    rig.engine.stopRecording();
    ASSERT_TRUE(spotify.waitForLine("call Play"));
    ASSERT_TRUE(spotify.waitForLine("answer Pause"));
    ASSERT_TRUE(processEventsUntil([&] { return rig.engine.state() == RecordingState::idle; }));
    QStringList heard;
    for (const QString& line : spotify.lines())
        if (line.startsWith(QLatin1String("call ")) || line.startsWith(QLatin1String("answer "))) heard << line;
    EXPECT_EQ(heard, QStringList({QStringLiteral("call Pause"), QStringLiteral("answer Pause"), QStringLiteral("call Play")}));
    const std::optional<PlayerTrack> track = musicPlayers.status(kSpotifyPlayer);
    ASSERT_TRUE(track);
    EXPECT_TRUE(track->playing) << "the music was left paused";
}

// "Music" is the first other player by name, so by the time a dictation ends it may stand for
// another player than the one the dictation paused. The resume reaches the paused player, and no
// player at all once that one has gone: a player that came up meanwhile is never started.
TEST_F(MediaServiceIntegration, TheResumeReachesOnlyThePlayerTheDictationPaused) {
    Dictations rig{live.runtime(), media};
    FakeCaptureSystem& capture = rig.capture;
    WhisperEngine& engine = rig.engine;
    const struct {
        const char* name;
        bool pausedQuits;
    } cases[] = {
        {"another player comes up meanwhile", false},
        {"the paused player quits meanwhile", true},
    };
    media.startMonitoring();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto paused = std::make_unique<StandInPlayer>(QStringList{
            QStringLiteral("--name"), QStringLiteral("org.mpris.MediaPlayer2.zz"), QStringLiteral("--title"),
            QStringLiteral("Song")});
        ASSERT_TRUE(paused->waitForLine("ready"));
        ASSERT_TRUE(processEventsUntil([&] {
            media.pollNowPlaying();
            return media.isPlaying() && media.trackTitle() == QStringLiteral("Song");
        }));
        engine.startRecording([](const QString&) {});
        ASSERT_TRUE(paused->waitForLine("call Pause"));
        ASSERT_TRUE(processEventsUntil([&] { return !capture.made().empty() && capture.made().back()->isRunning(); }));
        StandInPlayer newcomer({QStringLiteral("--name"), QStringLiteral("org.mpris.MediaPlayer2.aa"),
                                QStringLiteral("--title"), QStringLiteral("Other"), QStringLiteral("--status"),
                                QStringLiteral("Paused")});
        ASSERT_TRUE(newcomer.waitForLine("ready"));
        if (c.pausedQuits) paused.reset();
        engine.stopRecording();
        ASSERT_TRUE(processEventsUntil([&] { return engine.state() == RecordingState::idle; }));
        if (paused) {
            ASSERT_TRUE(paused->waitForLine("call Play"));
            EXPECT_EQ(newcomer.calls(), QStringList());
        } else {
            EXPECT_FALSE(newcomer.waitForLine("call Play", 3000)) << newcomer.calls().join(QLatin1Char(' ')).toStdString();
        }
        EXPECT_EQ(media.automationWarning(), std::nullopt);
    }
    engine.shutdown();
    // With no pause of ours before it, a play goes to the player that stands for "Music".
    StandInPlayer player({QStringLiteral("--name"), QStringLiteral("org.mpris.MediaPlayer2.zz"),
                          QStringLiteral("--status"), QStringLiteral("Paused")});
    ASSERT_TRUE(player.waitForLine("ready"));
    EXPECT_TRUE(musicPlayers.command(kMusicPlayer, PlayerCommand::play));
    ASSERT_TRUE(player.waitForLine("call Play"));
    EXPECT_EQ(player.calls(), QStringList({QStringLiteral("call Play")}));
}

// A player whose artwork never arrives (a server that sends one byte every 2 s without end, or a
// FIFO that nobody writes to) while polls keep coming: the track is still read, and a dictation
// still finishes with its text, because its work never waits behind the downloads.
TEST(MediaServiceArtwork, ArtworkThatNeverArrivesHoldsUpNeitherReadingsNorADictation) {
    guiApplication();
    LoopbackHttpServer slow;
    slow.serveSlowly(QStringLiteral("/art/slow.png"), 2000);
    QTemporaryDir fifoDir;
    const QString fifo = fifoDir.filePath(QStringLiteral("art.fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString speechScript = fifoDir.filePath(QStringLiteral("speech.txt"));
    {
        QFile f(speechScript);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("hello there\n");
    }
    qputenv("COLI_STANDIN_SCRIPT", speechScript.toUtf8());

    const struct {
        const char* name;
        QStringList player;
    } cases[] = {
        {"a server that trickles",
         {QStringLiteral("--title"), QStringLiteral("Song"), QStringLiteral("--artist"), QStringLiteral("Singer"),
          QStringLiteral("--album"), QStringLiteral("Record"), QStringLiteral("--art-url"),
          slow.base() + QStringLiteral("/art/slow.png")}},
        {"a FIFO as the artwork file",
         {QStringLiteral("--name"), QStringLiteral("org.mpris.MediaPlayer2.standin"), QStringLiteral("--title"),
          QStringLiteral("Song"), QStringLiteral("--artist"), QStringLiteral("Singer"), QStringLiteral("--album"),
          QStringLiteral("Record"), QStringLiteral("--art-url"), QUrl::fromLocalFile(fifo).toString()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StandInPlayer player(c.player);
        ASSERT_TRUE(player.waitForLine("ready"));
        // In this order, so that worker threads end (unblocked first) before the ports they use.
        FifoReleaser fifoWriter(fifo);
        LoopbackHttpServer search;
        // Each download of the trickling address runs into this deadline; as every poll of Spotify
        // downloads its address again, one is hanging almost all the time.
        QtHttpClient http{3000};
        MprisRelays relays;
        MprisMusicPlayers musicPlayers{http, relays, QDBusConnection::sessionBus(), 500};
        MprisRunningPlayers players;
        QtImageDecoder images;
        LiveRuntime live;
        struct Unblock {
            FifoReleaser& fifo;
            LoopbackHttpServer& server;
            ~Unblock() {
                fifo.start();
                server.closeSlowAnswers();
            }
        } unblock{fifoWriter, slow};
        MediaRemoteService media{{live.runtime(), musicPlayers, players, http, images, QUrl(search.base())}};

        const QString home = live.runtime().paths.home;
        prepareStandInHome(home);
        ConfigStore config{live.runtime()};
        FakeSoundOutput soundOutput;
        SoundFeedback sounds{config, soundOutput};
        FakeCaptureSystem capture;
        SampleRateConverterFactory converters;
        PosixProcessLauncher launcher;
        WhisperEngine engine{{live.runtime(), config, sounds, nullptr, &media, &capture, &converters, &launcher}};

        // Far more polls than the machine has cores, as 5 s polls would add up over a minute. The
        // reading comes at the latest when its download gives up.
        media.startMonitoring();
        for (int i = 0; i < 16; ++i) media.pollNowPlaying();
        EXPECT_TRUE(processEventsUntil([&] { return media.trackTitle() == QStringLiteral("Song"); }));

        QStringList typed;
        engine.startRecording([&](const QString& text) { typed << text; });
        if (processEventsUntil([&] { return !capture.made().empty() && capture.made().back()->isRunning(); })) {
            for (int i = 0; i < 50; ++i) capture.made().back()->deliver(constantBuffer(0.3f));
            processEventsUntil([&] { return engine.previewText() == QStringLiteral("hello there"); });
            engine.stopRecording();
        } else {
            ADD_FAILURE() << "the recording did not start";
        }
        EXPECT_TRUE(processEventsUntil([&] { return !typed.isEmpty(); }, 15000)) << "the dictation never finished";
        EXPECT_EQ(typed, QStringList{QStringLiteral("hello there")});
        EXPECT_TRUE(processEventsUntil([&] { return engine.state() == RecordingState::idle; }));
        engine.shutdown();
    }
    qunsetenv("COLI_STANDIN_SCRIPT");
}

// Downloads run on a worker thread, as the service runs them, while this thread serves.
std::optional<QByteArray> download(QtHttpClient& client, const QUrl& url) {
    auto result = std::async(std::launch::async, [&] { return client.get(url); });
    processEventsUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 15000);
    return result.get();
}

TEST(QtHttpClientTest, GivesTheBodyOfASuccessAndNothingForAnyFailure) {
    guiApplication();
    LoopbackHttpServer web;
    web.serve(QStringLiteral("/ok"), "body");
    web.serve(QStringLiteral("/big"), QByteArray(4096, 'x'));
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("local.bin")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("local bytes");
    file.close();
    // A server that accepts and never answers.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    // A port with nobody listening.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 closedPort = closed.serverPort();
    closed.close();

    // Bytes that keep coming, each well within the transfer timeout, for longer than the deadline.
    web.serveSlowly(QStringLiteral("/trickle"), 300, 20);
    QFile big(dir.filePath(QStringLiteral("big.bin")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(4096, 'x'));
    big.close();

    QtHttpClient client(1000, 1024);
    const struct {
        const char* name;
        QUrl url;
        std::optional<QByteArray> body;
    } cases[] = {
        {"success", QUrl(web.base() + QStringLiteral("/ok")), QByteArray("body")},
        {"not found", QUrl(web.base() + QStringLiteral("/missing")), std::nullopt},
        {"larger than the limit", QUrl(web.base() + QStringLiteral("/big")), std::nullopt},
        {"a trickle that outlasts the deadline", QUrl(web.base() + QStringLiteral("/trickle")), std::nullopt},
        {"local file", QUrl::fromLocalFile(file.fileName()), QByteArray("local bytes")},
        {"local file larger than the limit", QUrl::fromLocalFile(big.fileName()), std::nullopt},
        {"missing local file", QUrl::fromLocalFile(dir.filePath(QStringLiteral("none"))), std::nullopt},
        {"a folder", QUrl::fromLocalFile(dir.path()), std::nullopt},
        {"a data address", QUrl(QStringLiteral("data:text/plain,inline%20bytes")), std::nullopt},
        {"no answer within the timeout", QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(silent.serverPort())),
         std::nullopt},
        {"connection refused", QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(closedPort)), std::nullopt},
        {"relative address", QUrl(QStringLiteral("ok")), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(download(client, c.url), c.body);
    }
}

TEST(QtHttpClientTest, AFifoIsNeverOpened) {
    guiApplication();
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("art.fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QtHttpClient client(1000, 1024);
    auto result = std::async(std::launch::async, [&] { return client.get(QUrl::fromLocalFile(fifo)); });
    const bool answeredAtOnce = result.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
    FifoReleaser release(fifo);
    EXPECT_TRUE(answeredAtOnce) << "the read waited for a writer";
    EXPECT_EQ(result.get(), std::nullopt);
}

TEST(QtHttpClientTest, AnAddressBeingFetchedIsNotFetchedASecondTime) {
    guiApplication();
    LoopbackHttpServer web;
    web.serveSlowly(QStringLiteral("/slow"), 100, 10);
    web.serve(QStringLiteral("/other"), "other");
    QtHttpClient client(10000, 1024);
    const QUrl slow(web.base() + QStringLiteral("/slow"));
    auto first = std::async(std::launch::async, [&] { return client.get(slow); });
    ASSERT_TRUE(processEventsUntil([&] { return web.requests().contains(QStringLiteral("/slow")); }));
    EXPECT_EQ(download(client, slow), std::nullopt) << "a second transfer of the same address";
    EXPECT_EQ(download(client, QUrl(web.base() + QStringLiteral("/other"))), QByteArray("other"))
        << "other addresses still load";
    processEventsUntil([&] { return first.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    EXPECT_EQ(first.get(), QByteArray(10, 'x'));
    EXPECT_EQ(web.requests().count(QStringLiteral("/slow")), 1);
    // Once that transfer is over, the address may be fetched again.
    EXPECT_EQ(download(client, slow), QByteArray(10, 'x'));
    EXPECT_EQ(web.requests().count(QStringLiteral("/slow")), 2);
}

}  // namespace
}  // namespace vocalynx::test
