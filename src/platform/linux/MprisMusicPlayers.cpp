#include "platform/linux/MprisMusicPlayers.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QStringList>
#include <QUrl>

#include "platform/linux/MprisBusNames.h"
#include "platform/linux/MprisPlayerService.h"

namespace vocalynx {

namespace {
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kDBusService = QStringLiteral("org.freedesktop.DBus");

QString metadataText(const QVariantMap& metadata, const QString& key) {
    const QVariant value = metadata.value(key);
    // xesam:artist is a list of names; some players send a single string instead.
    if (value.canConvert<QStringList>() && value.typeId() != QMetaType::QString)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

// A player that shows our own player's track passes on what it is sent to ours.
bool mirrorsOurPlayer(const QVariantMap& metadata) {
    return metadata.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path() ==
           QLatin1String(MprisPlayerService::kTrackId);
}

QString methodFor(PlayerCommand command) {
    switch (command) {
    case PlayerCommand::play: return QStringLiteral("Play");
    case PlayerCommand::pause: return QStringLiteral("Pause");
    case PlayerCommand::toggle: return QStringLiteral("PlayPause");
    case PlayerCommand::next: return QStringLiteral("Next");
    case PlayerCommand::previous: return QStringLiteral("Previous");
    }
    return {};
}
}  // namespace

MprisMusicPlayers::MprisMusicPlayers(HttpClient& http, MprisRelays& relays, QDBusConnection connection, int timeoutMs)
    : http_(http), relays_(relays), connection_(std::move(connection)), timeoutMs_(timeoutMs) {}

QVariant MprisMusicPlayers::askBus(const QString& method, const QVariantList& arguments) const {
    QDBusMessage msg =
        QDBusMessage::createMethodCall(kDBusService, QStringLiteral("/org/freedesktop/DBus"), kDBusService, method);
    msg.setArguments(arguments);
    const QDBusMessage reply = connection_.call(msg, QDBus::Block, timeoutMs_);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() ? reply.arguments().first()
                                                                                       : QVariant();
}

MprisMusicPlayers::Target MprisMusicPlayers::resolve(const QString& player) const {
    const QStringList names = askBus(QStringLiteral("ListNames"), {}).toStringList();
    for (const QString& name : mpris::busNamesForPlayer(player, names)) {
        const QString owner = askBus(QStringLiteral("GetNameOwner"), {name}).toString();
        if (owner.isEmpty() || relays_.isRelay(owner)) continue;
        return {name, owner};
    }
    return {};
}

bool MprisMusicPlayers::call(const QString& busName, const QString& method) const {
    QDBusMessage msg = QDBusMessage::createMethodCall(busName, mpris::kObjectPath, mpris::kPlayerInterface, method);
    return connection_.call(msg, QDBus::Block, timeoutMs_).type() == QDBusMessage::ReplyMessage;
}

std::optional<QVariant> MprisMusicPlayers::property(const QString& busName, const QString& name) const {
    QDBusMessage msg = QDBusMessage::createMethodCall(busName, mpris::kObjectPath, kPropertiesInterface, QStringLiteral("Get"));
    msg << mpris::kPlayerInterface << name;
    const QDBusMessage reply = connection_.call(msg, QDBus::Block, timeoutMs_);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
    return reply.arguments().first().value<QDBusVariant>().variant();
}

std::optional<QVariantMap> MprisMusicPlayers::metadata(const QString& busName) const {
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

std::optional<PlayerTrack> MprisMusicPlayers::status(const QString& player) {
    const Target target = resolve(player);
    if (target.busName.isEmpty()) return std::nullopt;
    const std::optional<QVariant> status = property(target.busName, QStringLiteral("PlaybackStatus"));
    if (!status) return std::nullopt;
    const QString s = status->toString();
    if (s != QLatin1String("Playing") && s != QLatin1String("Paused")) return std::nullopt;
    const std::optional<QVariantMap> meta = metadata(target.busName);
    if (!meta) return std::nullopt;
    if (mirrorsOurPlayer(*meta)) {
        relays_.addRelay(target.owner);
        return std::nullopt;
    }
    return PlayerTrack{s == QLatin1String("Playing"), metadataText(*meta, QStringLiteral("xesam:title")),
                       metadataText(*meta, QStringLiteral("xesam:artist")),
                       metadataText(*meta, QStringLiteral("xesam:album"))};
}

bool MprisMusicPlayers::command(const QString& player, PlayerCommand command) {
    std::optional<Target> paused;
    if (command == PlayerCommand::pause || command == PlayerCommand::play) {
        std::lock_guard lock(pausedMutex_);
        if (const auto found = pausedTargets_.constFind(player); found != pausedTargets_.constEnd()) {
            paused = found.value();
            pausedTargets_.erase(found);
        }
    }
    // The play that follows our pause goes to the very player the pause reached, and to none once
    // that player has gone: "Music" may by then stand for a player that came up meanwhile, which
    // is not ours to start. With the paused player gone, or found since to be a relay that passed
    // the pause back to us, there is nothing to resume, which is no failure of a player.
    if (command == PlayerCommand::play && paused) {
        if (relays_.isRelay(paused->owner) ||
            askBus(QStringLiteral("GetNameOwner"), {paused->busName}).toString() != paused->owner)
            return true;
        relays_.sending(paused->owner);
        return call(paused->busName, methodFor(command));
    }
    // A player that passes the command back to ours is found out while it is sent; the next
    // player of that name gets it then. Each round drops one player, and the players are few.
    for (int round = 0; round < 4; ++round) {
        const Target target = resolve(player);
        if (target.busName.isEmpty()) return false;
        relays_.sending(target.owner);
        bool ok = call(target.busName, methodFor(command));
        if (ok && (command == PlayerCommand::next || command == PlayerCommand::previous))
            ok = call(target.busName, QStringLiteral("Play"));
        if (!relays_.isRelay(target.owner)) {
            if (ok && command == PlayerCommand::pause) {
                std::lock_guard lock(pausedMutex_);
                pausedTargets_.insert(player, target);
            }
            return ok;
        }
    }
    return false;
}

std::optional<QString> MprisMusicPlayers::artworkAddress(const QString& player) {
    const Target target = resolve(player);
    if (target.busName.isEmpty()) return std::nullopt;
    const std::optional<QVariantMap> meta = metadata(target.busName);
    if (!meta) return std::nullopt;
    return metadataText(*meta, QStringLiteral("mpris:artUrl"));
}

std::optional<QByteArray> MprisMusicPlayers::artworkData(const QString& player) {
    const std::optional<QString> address = artworkAddress(player);
    if (!address || address->isEmpty()) return std::nullopt;
    const QUrl url(*address, QUrl::StrictMode);
    if (!url.isValid()) return std::nullopt;
    return http_.get(url);
}

}  // namespace vocalynx
