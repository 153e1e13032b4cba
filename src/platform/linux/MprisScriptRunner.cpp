#include "platform/linux/MprisScriptRunner.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QStringList>
#include <QUrl>

#include "platform/linux/MprisBusNames.h"

namespace vocalynx {

namespace {
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

QString metadataText(const QVariantMap& metadata, const QString& key) {
    const QVariant value = metadata.value(key);
    // xesam:artist is a list of names; some players send a single string instead.
    if (value.canConvert<QStringList>() && value.typeId() != QMetaType::QString)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}
}  // namespace

MprisScriptRunner::MprisScriptRunner(HttpClient& http, QDBusConnection connection, int timeoutMs)
    : http_(http), connection_(std::move(connection)), timeoutMs_(timeoutMs) {}

bool MprisScriptRunner::runScript(const QString& source) { return run(source).ok; }

std::optional<QString> MprisScriptRunner::runScriptForString(const QString& source) {
    Result r = run(source);
    return r.ok ? r.text : std::nullopt;
}

std::optional<QByteArray> MprisScriptRunner::runScriptForData(const QString& source) {
    Result r = run(source);
    return r.ok ? r.data : std::nullopt;
}

QString MprisScriptRunner::resolve(const QString& player) const {
    QDBusMessage list = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                       QStringLiteral("/org/freedesktop/DBus"),
                                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"));
    const QDBusMessage reply = connection_.call(list, QDBus::Block, timeoutMs_);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return QString();
    return mpris::busNameForPlayer(player, reply.arguments().first().toStringList());
}

bool MprisScriptRunner::call(const QString& busName, const QString& method) const {
    QDBusMessage msg = QDBusMessage::createMethodCall(busName, mpris::kObjectPath, mpris::kPlayerInterface, method);
    return connection_.call(msg, QDBus::Block, timeoutMs_).type() == QDBusMessage::ReplyMessage;
}

std::optional<QVariant> MprisScriptRunner::property(const QString& busName, const QString& name) const {
    QDBusMessage msg = QDBusMessage::createMethodCall(busName, mpris::kObjectPath, kPropertiesInterface, QStringLiteral("Get"));
    msg << mpris::kPlayerInterface << name;
    const QDBusMessage reply = connection_.call(msg, QDBus::Block, timeoutMs_);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
    return reply.arguments().first().value<QDBusVariant>().variant();
}

std::optional<QVariantMap> MprisScriptRunner::metadata(const QString& busName) const {
    const std::optional<QVariant> value = property(busName, QStringLiteral("Metadata"));
    if (!value) return std::nullopt;
    if (value->canConvert<QDBusArgument>()) {
        // The player chooses the shape. Only a map of variants is read into one: reading a map of
        // any other value type as variants runs past its values.
        const QDBusArgument argument = value->value<QDBusArgument>();
        if (argument.currentType() != QDBusArgument::MapType || argument.currentSignature() != QLatin1String("a{sv}"))
            return std::nullopt;
        QVariantMap map;
        argument >> map;
        return map;
    }
    if (value->typeId() == QMetaType::QVariantMap) return value->toMap();
    return std::nullopt;
}

MprisScriptRunner::Result MprisScriptRunner::run(const QString& source) {
    const std::optional<RecognisedPlayerScript> script = recognisePlayerScript(source);
    if (!script) return {};
    const QString bus = resolve(script->player);
    if (bus.isEmpty()) return {};

    switch (script->kind) {
    case PlayerScriptKind::status: {
        const std::optional<QVariant> status = property(bus, QStringLiteral("PlaybackStatus"));
        if (!status) return {};
        const QString s = status->toString();
        if (s != QLatin1String("Playing") && s != QLatin1String("Paused")) return {true, QStringLiteral("stopped"), {}};
        const std::optional<QVariantMap> meta = metadata(bus);
        if (!meta) return {};
        const QString reply = QStringList{s.toLower(), metadataText(*meta, QStringLiteral("xesam:title")),
                                          metadataText(*meta, QStringLiteral("xesam:artist")),
                                          metadataText(*meta, QStringLiteral("xesam:album"))}
                                  .join(QStringLiteral("||"));
        return {true, reply, {}};
    }
    case PlayerScriptKind::toggle: return {call(bus, QStringLiteral("PlayPause")), {}, {}};
    case PlayerScriptKind::next:
        return {call(bus, QStringLiteral("Next")) && call(bus, QStringLiteral("Play")), {}, {}};
    case PlayerScriptKind::previous:
        return {call(bus, QStringLiteral("Previous")) && call(bus, QStringLiteral("Play")), {}, {}};
    case PlayerScriptKind::play: return {call(bus, QStringLiteral("Play")), {}, {}};
    case PlayerScriptKind::pause: return {call(bus, QStringLiteral("Pause")), {}, {}};
    case PlayerScriptKind::artworkCount:
    case PlayerScriptKind::artworkData:
    case PlayerScriptKind::artworkUrl: {
        const std::optional<QVariantMap> meta = metadata(bus);
        if (!meta) return {};
        const QString artUrl = metadataText(*meta, QStringLiteral("mpris:artUrl"));
        if (script->kind == PlayerScriptKind::artworkCount)
            return {true, artUrl.isEmpty() ? QStringLiteral("0") : QStringLiteral("1"), {}};
        if (script->kind == PlayerScriptKind::artworkUrl) {
            if (artUrl.isEmpty()) return {true, {}, {}};
            return {true, artUrl, {}};
        }
        if (artUrl.isEmpty()) return {true, {}, {}};
        const QUrl url(artUrl, QUrl::StrictMode);
        if (!url.isValid()) return {};
        std::optional<QByteArray> bytes = http_.get(url);
        if (!bytes) return {};
        return {true, {}, std::move(bytes)};
    }
    }
    return {};
}

}  // namespace vocalynx
