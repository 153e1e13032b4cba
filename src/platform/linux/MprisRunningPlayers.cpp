#include "platform/linux/MprisRunningPlayers.h"

#include <QDBusConnectionInterface>

namespace vocalynx {

MprisRunningPlayers::MprisRunningPlayers(QDBusConnection connection, QObject* parent)
    : QObject(parent), connection_(std::move(connection)) {
    // Follow changes before listing, so that nothing between the two is missed.
    connection_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                        SLOT(nameOwnerChanged(QString, QString, QString)));
}

QSet<QString> MprisRunningPlayers::scanRunningPlayers() {
    owned_.clear();
    if (QDBusConnectionInterface* bus = connection_.interface()) {
        const QDBusReply<QStringList> names = bus->registeredServiceNames();
        if (names.isValid())
            for (const QString& name : names.value()) owned_.add(name);
    }
    return owned_.players();
}

void MprisRunningPlayers::nameOwnerChanged(const QString& name, const QString&, const QString& newOwner) {
    // A name passed from one owner to another stays as it was.
    if (!newOwner.isEmpty()) {
        if (const QString started = owned_.add(name); !started.isEmpty()) notify(launchHandlers_, started);
    } else if (const QString stopped = owned_.remove(name); !stopped.isEmpty()) {
        notify(terminationHandlers_, stopped);
    }
}

void MprisRunningPlayers::notify(std::vector<std::weak_ptr<Handler>>& list, const QString& player) {
    std::erase_if(list, [](const std::weak_ptr<Handler>& h) { return h.expired(); });
    const auto snapshot = list;  // a handler may add or drop observers
    for (const auto& weak : snapshot)
        if (auto handler = weak.lock()) (*handler)(player);
}

RunningPlayerSource::ObserverToken MprisRunningPlayers::add(std::vector<std::weak_ptr<Handler>>& list, Handler handler) {
    auto token = std::make_shared<Handler>(std::move(handler));
    list.push_back(token);
    return token;
}

RunningPlayerSource::ObserverToken MprisRunningPlayers::observeLaunches(Handler handler) {
    return add(launchHandlers_, std::move(handler));
}

RunningPlayerSource::ObserverToken MprisRunningPlayers::observeTerminations(Handler handler) {
    return add(terminationHandlers_, std::move(handler));
}

}  // namespace vocalynx
