#include "platform/linux/DBusDistributedNotifications.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QThread>
#include <QUuid>

namespace vocalynx {

namespace {

// The characters a map's keys and string values hold, or none once they pass the limit.
std::optional<qsizetype> charactersIn(const QVariantMap& map, qsizetype limit) {
    qsizetype total = 0;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        total += it.key().size();
        if (it.value().typeId() == QMetaType::QString) total += it.value().toString().size();
        if (total > limit) return std::nullopt;
    }
    return total;
}

}  // namespace

DBusDistributedNotifications::DBusDistributedNotifications()
    : connectionName_(QStringLiteral("vocalynx-notifications-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

DBusDistributedNotifications::~DBusDistributedNotifications() {
    if (registrations_.empty()) return;
    QDBusConnection bus(connectionName_);
    QThread* here = QThread::currentThread();
    for (const Registration& r : registrations_) {
        bus.disconnect(QString(), QString(), r.signal.interface, r.signal.member, r.receiver,
                       SLOT(onSignal(QDBusMessage)));
        // The bus library waits on the bus thread to hear of a receiver's end, so a receiver must
        // not end there: it comes back to this thread first and is deleted here.
        QMetaObject::invokeMethod(
            r.receiver,
            [receiver = r.receiver, here] {
                receiver->moveToThread(here);
                receiver->deleteLater();
            },
            Qt::QueuedConnection);
    }
    registrations_.clear();  // signals already on their way find no observer
    QDBusConnection::disconnectFromBus(connectionName_);
}

std::optional<DBusDistributedNotifications::SignalName> DBusDistributedNotifications::signalFor(
    const QString& notificationName) {
    if (notificationName == QLatin1String("com.vocalynx.agent-event"))
        return SignalName{QStringLiteral("com.vocalynx.AgentEvent"), QStringLiteral("Event")};
    return std::nullopt;
}

std::optional<QVariantMap> DBusDistributedNotifications::userInfoOf(const QDBusMessage& message) {
    // Any other signature is not user information. qdbus_cast to a map of variants must only ever
    // see a map of variants: handed a map of any other value type it reads past the values.
    if (message.signature() != QLatin1String("a{sv}")) return std::nullopt;
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() != 1 || !arguments.first().canConvert<QDBusArgument>()) return std::nullopt;
    const QDBusArgument argument = arguments.first().value<QDBusArgument>();
    if (argument.currentType() != QDBusArgument::MapType || argument.currentSignature() != QLatin1String("a{sv}"))
        return std::nullopt;
    QVariantMap map = qdbus_cast<QVariantMap>(argument);
    if (!charactersIn(map, maxUserInfoChars)) return std::nullopt;
    return map;
}

bool DBusDistributedNotifications::addObserver(const QString& name, Observer observer) {
    const auto signal = signalFor(name);
    if (!signal) return false;
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_);
    if (!bus.isConnected() || !bus.interface()) return false;
    auto shared = std::make_shared<const Observer>(std::move(observer));
    auto* receiver = new DBusSignalReceiver(shared);
    // The connection's own objects live on the thread that reads the bus. A message handed to an
    // object on another thread is released there, and once the messages alive at one time pass the
    // bus library's limit, the read notifier that library turns off is never turned on again from
    // that other thread: the connection would hear nothing more.
    receiver->moveToThread(bus.interface()->thread());
    // Empty service and path: from any sender, any object.
    if (!bus.connect(QString(), QString(), signal->interface, signal->member, receiver, SLOT(onSignal(QDBusMessage)))) {
        receiver->deleteLater();
        return false;
    }
    registrations_.push_back({std::move(shared), receiver, *signal});
    return true;
}

void DBusSignalReceiver::onSignal(const QDBusMessage& message) {
    std::optional<QVariantMap> userInfo = DBusDistributedNotifications::userInfoOf(message);
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(
        app,
        [observer = observer_, userInfo = std::move(userInfo)] {
            if (auto o = observer.lock()) (*o)(userInfo);
        },
        Qt::QueuedConnection);
}

}  // namespace vocalynx
