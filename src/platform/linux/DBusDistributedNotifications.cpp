#include "platform/linux/DBusDistributedNotifications.h"

#include <QDBusArgument>
#include <QDBusConnection>

namespace vocalynx {

DBusDistributedNotifications::DBusDistributedNotifications() = default;

// Destroying a receiver removes its connection to the bus.
DBusDistributedNotifications::~DBusDistributedNotifications() = default;

std::optional<DBusDistributedNotifications::SignalName> DBusDistributedNotifications::signalFor(
    const QString& notificationName) {
    if (notificationName == QLatin1String("com.vocalynx.agent-event"))
        return SignalName{QStringLiteral("com.vocalynx.AgentEvent"), QStringLiteral("Event")};
    return std::nullopt;
}

std::optional<QVariantMap> DBusDistributedNotifications::userInfoOf(const QDBusMessage& message) {
    const QList<QVariant> arguments = message.arguments();
    if (arguments.isEmpty()) return std::nullopt;
    const QVariant& first = arguments.first();
    if (!first.canConvert<QDBusArgument>()) return std::nullopt;
    const QDBusArgument argument = first.value<QDBusArgument>();
    if (argument.currentType() != QDBusArgument::MapType) return std::nullopt;
    // Only maps keyed by strings are user information; qdbus_cast would read any other key type
    // as empty strings.
    if (!argument.currentSignature().startsWith(QLatin1String("a{s"))) return std::nullopt;
    return qdbus_cast<QVariantMap>(argument);
}

bool DBusDistributedNotifications::addObserver(const QString& name, Observer observer) {
    const auto signal = signalFor(name);
    if (!signal) return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    auto receiver = std::make_unique<DBusSignalReceiver>(std::move(observer));
    // Empty service and path: from any sender, any object.
    if (!bus.connect(QString(), QString(), signal->interface, signal->member, receiver.get(),
                     SLOT(onSignal(QDBusMessage))))
        return false;
    receivers_.push_back(std::move(receiver));
    return true;
}

void DBusSignalReceiver::onSignal(const QDBusMessage& message) {
    observer_(DBusDistributedNotifications::userInfoOf(message));
}

}  // namespace vocalynx
