// A stand-in MPRIS 2 music player for the integration tests. It registers a bus name on the
// session bus (default org.mpris.MediaPlayer2.spotify) with the player object at
// /org/mpris/MediaPlayer2, answers PlaybackStatus and Metadata (title, artist, album, artwork
// address), and carries out PlayPause, Play, Pause, Next, Previous and Stop.
//
//   mpris_stand_in_player [--name BUS] [--title T] [--artist A] [--album L] [--art-url URL]
//                         [--status Playing|Paused|Stopped] [--relay-to BUS] [--pause-delay MS]
//
// With --pause-delay it is a slow player: a Pause takes effect, and is answered, only that many
// milliseconds after it arrived ("answer Pause" then), while other calls are carried out at once.
// With --relay-to it passes each command on to the player with that bus name, as a player proxy
// does, and answers once that player has.
//
// It prints "ready" once the name is owned, "call <Method>" for each command it receives and
// "read <Property>" for each property of the player asked for alone (Get).
// Lines on standard input change it: "status <S>", "title <T>", "art-url <URL>", "quit", and
// "metadata <signature>", which sends the metadata in another shape than the a{sv} players send:
// a{ss}, a{si} or as (what a faulty or hostile player may send). Each line is answered with
// "ok <command>" ("ok metadata <signature>" for a change of shape).

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

using StringMap = QMap<QString, QString>;
using NumberMap = QMap<QString, int>;

namespace {

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

void say(const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

class StandInPlayer final : public QDBusVirtualObject {
public:
    QString status = QStringLiteral("Playing");
    QString title, artist, album, artUrl;
    QString metadataSignature = QStringLiteral("a{sv}");
    QString relayTo;
    int pauseDelayMs = 0;

    // The metadata in the shape asked for; a{sv} unless told otherwise.
    QVariant metadataValue() const {
        if (metadataSignature == QLatin1String("a{ss}"))
            return QVariant::fromValue(StringMap{{QStringLiteral("xesam:title"), title},
                                                 {QStringLiteral("xesam:artist"), artist},
                                                 {QStringLiteral("xesam:album"), album}});
        if (metadataSignature == QLatin1String("a{si}"))
            return QVariant::fromValue(NumberMap{{QStringLiteral("xesam:title"), 1}, {QStringLiteral("xesam:album"), 2}});
        if (metadataSignature == QLatin1String("as")) return QStringList{title, artist, album};
        return metadata();
    }

    QVariantMap metadata() const {
        QVariantMap m;
        m.insert(QStringLiteral("mpris:trackid"),
                 QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/vocalynx/test/track/1"))));
        if (!title.isEmpty()) m.insert(QStringLiteral("xesam:title"), title);
        if (!artist.isEmpty()) m.insert(QStringLiteral("xesam:artist"), QStringList{artist});
        if (!album.isEmpty()) m.insert(QStringLiteral("xesam:album"), album);
        if (!artUrl.isEmpty()) m.insert(QStringLiteral("mpris:artUrl"), artUrl);
        return m;
    }

    QVariantMap playerProperties() const {
        return {{QStringLiteral("PlaybackStatus"), status},
                {QStringLiteral("Metadata"), metadataValue()},
                {QStringLiteral("CanControl"), true},
                {QStringLiteral("CanPlay"), true},
                {QStringLiteral("CanPause"), true},
                {QStringLiteral("CanGoNext"), true},
                {QStringLiteral("CanGoPrevious"), true}};
    }

    QVariantMap rootProperties() const {
        return {{QStringLiteral("Identity"), QStringLiteral("Stand-in player")}, {QStringLiteral("CanQuit"), false}};
    }

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.mpris.MediaPlayer2\"><property name=\"Identity\" type=\"s\" access=\"read\"/></interface>"
            "<interface name=\"org.mpris.MediaPlayer2.Player\">"
            "<method name=\"PlayPause\"/><method name=\"Play\"/><method name=\"Pause\"/><method name=\"Stop\"/>"
            "<method name=\"Next\"/><method name=\"Previous\"/>"
            "<property name=\"PlaybackStatus\" type=\"s\" access=\"read\"/>"
            "<property name=\"Metadata\" type=\"a{sv}\" access=\"read\"/></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (message.interface() == kProperties) {
            const QVariantList args = message.arguments();
            const QString iface = args.value(0).toString();
            const QVariantMap props = iface == kPlayer ? playerProperties() : iface == kRoot ? rootProperties() : QVariantMap();
            if (member == QLatin1String("GetAll")) {
                connection.send(message.createReply(QVariant(props)));
                return true;
            }
            if (member == QLatin1String("Get")) {
                const QString name = args.value(1).toString();
                if (iface == kPlayer) say(QStringLiteral("read ") + name);
                if (!props.contains(name)) {
                    connection.send(message.createErrorReply(QDBusError::UnknownProperty, name));
                    return true;
                }
                connection.send(message.createReply(QVariant::fromValue(QDBusVariant(props.value(name)))));
                return true;
            }
            connection.send(message.createErrorReply(QDBusError::NotSupported, member));
            return true;
        }
        if (message.interface() == kPlayer || message.interface().isEmpty()) {
            if (member == QLatin1String("Pause") && pauseDelayMs > 0) {
                say(QStringLiteral("call Pause"));
                QTimer::singleShot(pauseDelayMs, [this, message, connection] {
                    status = QStringLiteral("Paused");
                    say(QStringLiteral("answer Pause"));
                    connection.send(message.createReply());
                });
                return true;
            }
            if (member == QLatin1String("PlayPause"))
                status = status == QLatin1String("Playing") ? QStringLiteral("Paused") : QStringLiteral("Playing");
            else if (member == QLatin1String("Play") || member == QLatin1String("Next") || member == QLatin1String("Previous"))
                status = member == QLatin1String("Play") ? QStringLiteral("Playing") : status;
            else if (member == QLatin1String("Pause"))
                status = QStringLiteral("Paused");
            else if (member == QLatin1String("Stop"))
                status = QStringLiteral("Stopped");
            else
                return false;
            if (!relayTo.isEmpty())
                connection.call(QDBusMessage::createMethodCall(relayTo, kPath, kPlayer, member), QDBus::Block, 5000);
            say(QStringLiteral("call ") + member);
            connection.send(message.createReply());
            return true;
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<StringMap>();
    qDBusRegisterMetaType<NumberMap>();
    QCommandLineParser parser;
    const QCommandLineOption name(QStringLiteral("name"), QStringLiteral("bus name"), QStringLiteral("name"),
                                  QStringLiteral("org.mpris.MediaPlayer2.spotify"));
    const QCommandLineOption title(QStringLiteral("title"), QStringLiteral("title"), QStringLiteral("text"));
    const QCommandLineOption artist(QStringLiteral("artist"), QStringLiteral("artist"), QStringLiteral("text"));
    const QCommandLineOption album(QStringLiteral("album"), QStringLiteral("album"), QStringLiteral("text"));
    const QCommandLineOption artUrl(QStringLiteral("art-url"), QStringLiteral("artwork address"), QStringLiteral("url"));
    const QCommandLineOption status(QStringLiteral("status"), QStringLiteral("playback status"), QStringLiteral("status"),
                                    QStringLiteral("Playing"));
    const QCommandLineOption relayTo(QStringLiteral("relay-to"), QStringLiteral("player to pass commands on to"),
                                     QStringLiteral("bus"));
    const QCommandLineOption pauseDelay(QStringLiteral("pause-delay"), QStringLiteral("milliseconds a Pause takes"),
                                        QStringLiteral("ms"), QStringLiteral("0"));
    parser.addOptions({name, title, artist, album, artUrl, status, relayTo, pauseDelay});
    parser.process(app);

    StandInPlayer player;
    player.title = parser.value(title);
    player.artist = parser.value(artist);
    player.album = parser.value(album);
    player.artUrl = parser.value(artUrl);
    player.status = parser.value(status);
    player.relayTo = parser.value(relayTo);
    player.pauseDelayMs = parser.value(pauseDelay).toInt();

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerVirtualObject(kPath, &player, QDBusConnection::SubPath) ||
        !bus.registerService(parser.value(name))) {
        std::fprintf(stderr, "cannot register on the session bus\n");
        return 1;
    }

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            app.quit();
            return;
        }
        for (const QString& line : QString::fromUtf8(buffer, int(n)).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QString command = line.section(QLatin1Char(' '), 0, 0);
            const QString value = line.section(QLatin1Char(' '), 1);
            if (command == QLatin1String("status")) player.status = value;
            else if (command == QLatin1String("title")) player.title = value;
            else if (command == QLatin1String("art-url")) player.artUrl = value;
            else if (command == QLatin1String("metadata")) player.metadataSignature = value;
            else if (command == QLatin1String("quit")) app.quit();
            // A change of shape names the shape, so that a test sees each change arrive.
            say(QStringLiteral("ok ") + (command == QLatin1String("metadata") ? line : command));
        }
    });
    say(QStringLiteral("ready"));
    return app.exec();
}
