#pragma once
#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <memory>
#include <vector>

#include "platform/DistributedNotifications.h"

namespace vocalynx {

// One connection to one signal. It lives on the bus connection's own thread, so that every message
// it is handed, however large, is checked and released there; only the small user information of a
// well-formed signal travels on to the observer on the main thread.
class DBusSignalReceiver : public QObject {
    Q_OBJECT
public:
    using Observer = DistributedNotificationCenter::Observer;
    // The observer is held weakly: once it is gone, signals still in flight are dropped.
    explicit DBusSignalReceiver(std::weak_ptr<const Observer> observer) : observer_(std::move(observer)) {}
public slots:
    void onSignal(const QDBusMessage& message);

private:
    std::weak_ptr<const Observer> observer_;
};

// Distributed notifications as signals on the user's D-Bus session bus, from any sender and any
// object path. "com.vocalynx.agent-event" is the signal com.vocalynx.AgentEvent.Event whose one
// argument, a{sv}, is the user information.
//
// The signals are received on a bus connection of their own, not on the shared one that carries
// the media player: what any program sends under this name can then never hold up that player.
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
    // The user information of a received signal: its one argument when the message carries exactly
    // one a{sv} map whose keys and string values together stay within maxUserInfoChars.
    static std::optional<QVariantMap> userInfoOf(const QDBusMessage& message);
    static constexpr qsizetype maxUserInfoChars = 64 * 1024;

private:
    struct Registration {
        std::shared_ptr<const Observer> observer;
        DBusSignalReceiver* receiver;  // on the bus thread; deleted there
        SignalName signal;
    };
    QString connectionName_;
    std::vector<Registration> registrations_;
};

}  // namespace vocalynx
