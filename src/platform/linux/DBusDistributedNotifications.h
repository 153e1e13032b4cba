#pragma once
#include <QDBusMessage>
#include <QObject>
#include <memory>
#include <vector>

#include "platform/DistributedNotifications.h"

namespace vocalynx {

// One connection to one signal; delivers on the thread it was created on (the main thread).
class DBusSignalReceiver : public QObject {
    Q_OBJECT
public:
    explicit DBusSignalReceiver(DistributedNotificationCenter::Observer observer) : observer_(std::move(observer)) {}
public slots:
    void onSignal(const QDBusMessage& message);

private:
    DistributedNotificationCenter::Observer observer_;
};

// Distributed notifications as signals on the user's D-Bus session bus, from any sender and any
// object path. "com.vocalynx.agent-event" is the signal com.vocalynx.AgentEvent.Event whose one
// argument, a{sv}, is the user information.
class DBusDistributedNotifications final : public DistributedNotificationCenter {
public:
    DBusDistributedNotifications();
    ~DBusDistributedNotifications() override;
    bool addObserver(const QString& name, Observer observer) override;

    struct SignalName {
        QString interface;
        QString member;
    };
    // The signal that carries a notification, or nothing for a name without one.
    static std::optional<SignalName> signalFor(const QString& notificationName);
    // The user information of a received signal: its first argument when that is a string-keyed map.
    static std::optional<QVariantMap> userInfoOf(const QDBusMessage& message);

private:
    std::vector<std::unique_ptr<DBusSignalReceiver>> receivers_;
};

}  // namespace vocalynx
