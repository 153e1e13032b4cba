#pragma once
#include <QString>
#include <QVariantMap>
#include <functional>
#include <optional>

namespace vocalynx {

// Notifications that other programs of this user post, received by name.
class DistributedNotificationCenter {
public:
    // The notification's user information, or nothing when it carries none.
    using Observer = std::function<void(const std::optional<QVariantMap>& userInfo)>;
    virtual ~DistributedNotificationCenter() = default;
    // From the main thread: delivers every later notification of that name to the observer on
    // the main thread. Adding the same name twice delivers each notification twice. False when the
    // name cannot be observed (no connection to the sender's channel, or a name not known here).
    virtual bool addObserver(const QString& name, Observer observer) = 0;
};

}  // namespace vocalynx
