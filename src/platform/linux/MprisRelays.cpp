#include "platform/linux/MprisRelays.h"

namespace vocalynx {

void MprisRelays::sending(const QString& owner) {
    if (owner.isEmpty()) return;
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(mutex_);
    sentAt_.removeIf([now](const auto& entry) { return now - entry.value() > kEchoWindow; });
    if (sentAt_.size() >= kMaxRemembered) sentAt_.clear();
    sentAt_.insert(owner, now);
}

bool MprisRelays::isEcho(const QString& sender) {
    std::lock_guard lock(mutex_);
    const auto found = sentAt_.constFind(sender);
    if (found == sentAt_.constEnd() || Clock::now() - found.value() > kEchoWindow) return false;
    if (relays_.size() >= kMaxRemembered) relays_.clear();
    relays_.insert(sender);
    return true;
}

bool MprisRelays::isRelay(const QString& owner) const {
    std::lock_guard lock(mutex_);
    return relays_.contains(owner);
}

void MprisRelays::addRelay(const QString& owner) {
    if (owner.isEmpty()) return;
    std::lock_guard lock(mutex_);
    if (relays_.size() >= kMaxRemembered) relays_.clear();
    relays_.insert(owner);
}

}  // namespace vocalynx
