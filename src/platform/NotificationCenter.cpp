#include "platform/NotificationCenter.h"

#include <algorithm>

namespace vocalynx {

NotificationCenter::Token NotificationCenter::addObserver(const QString& name, Observer observer) {
    std::lock_guard lock(mutex_);
    Token token = nextToken_++;
    entries_.push_back({token, name, std::make_shared<Observer>(std::move(observer))});
    return token;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [token](const Entry& e) { return e.token == token; });
}

void NotificationCenter::post(const QString& name, const std::any& object) {
    std::vector<std::shared_ptr<Observer>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : entries_)
            if (e.name == name) targets.push_back(e.observer);
    }
    for (const auto& observer : targets) (*observer)(object);
}

}  // namespace vocalynx
