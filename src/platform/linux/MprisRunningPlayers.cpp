#include "platform/linux/MprisRunningPlayers.h"

#include <QDBusConnectionInterface>

#include "platform/linux/MprisBusNames.h"

namespace vocalynx {

MprisRunningPlayers::MprisRunningPlayers(QDBusConnection connection, QObject* parent)
    : QObject(parent), connection_(std::move(connection)) {
    // Follow changes before listing, so that nothing between the two is missed.
    connection_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                        SLOT(nameOwnerChanged(QString, QString, QString)));
}

QSet<QString> MprisRunningPlayers::scanRunningPlayers() {
    busNames_.clear();
    if (QDBusConnectionInterface* bus = connection_.interface()) {
        const QDBusReply<QStringList> names = bus->registeredServiceNames();
        if (names.isValid())
            for (const QString& name : names.value())
                if (name.startsWith(mpris::kBusNamePrefix)) busNames_ << name;
    }
    return mpris::runningPlayers(busNames_);
}

void MprisRunningPlayers::nameOwnerChanged(const QString& name, const QString&, const QString& newOwner) {
    if (!name.startsWith(mpris::kBusNamePrefix)) return;
    const QSet<QString> before = mpris::runningPlayers(busNames_);
    busNames_.removeAll(name);
    if (!newOwner.isEmpty()) busNames_ << name;
    notify(before);
}

void MprisRunningPlayers::notify(const QSet<QString>& before) {
    const QSet<QString> after = mpris::runningPlayers(busNames_);
    auto call = [](std::vector<std::weak_ptr<Handler>>& list, const QString& player) {
        std::erase_if(list, [](const std::weak_ptr<Handler>& h) { return h.expired(); });
        const auto snapshot = list;  // a handler may add or drop observers
        for (const auto& weak : snapshot)
            if (auto handler = weak.lock()) (*handler)(player);
    };
    for (const QString& player : after)
        if (!before.contains(player)) call(launchHandlers_, player);
    for (const QString& player : before)
        if (!after.contains(player)) call(terminationHandlers_, player);
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
