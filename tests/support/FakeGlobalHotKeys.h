#pragma once
// Global hot keys for tests: registrations are recorded and a test "presses" a registered key.

#include <map>
#include <set>
#include <utility>

#include "platform/GlobalHotKeys.h"

namespace vocalynx::test {

class FakeGlobalHotKeys final : public GlobalHotKeys {
public:
    struct Registration {
        uint32_t keyCode;
        uint32_t modifiers;
        HotKeyID id;
    };

    bool installHandler(Handler h) override {
        ++handlerInstalls;
        handler = std::move(h);
        return true;
    }
    std::optional<Ref> registerHotKey(uint32_t keyCode, uint32_t modifiers, HotKeyID id) override {
        if (missingKeys.count(keyCode)) return std::nullopt;
        const Ref ref = nextRef++;
        registered[ref] = {keyCode, modifiers, id};
        ++registrations;
        return ref;
    }
    void unregisterHotKey(Ref ref) override { registered.erase(ref); }
    bool isHeld(Ref ref) const override {
        const auto it = registered.find(ref);
        return it != registered.end() && !takenElsewhere.count({it->second.keyCode, it->second.modifiers});
    }

    // Delivers a press of the registered key, as the system would; false when none matches (or
    // another program holds the key).
    bool press(uint32_t keyCode, uint32_t modifiers) {
        for (const auto& [ref, r] : registered)
            if (r.keyCode == keyCode && r.modifiers == modifiers && handler && isHeld(ref)) {
                handler(r.id);
                return true;
            }
        return false;
    }

    Handler handler;
    int handlerInstalls = 0;
    int registrations = 0;
    std::map<Ref, Registration> registered;
    Ref nextRef = 1;
    // Keys (code, modifiers) another program holds: they register but are not held.
    std::set<std::pair<uint32_t, uint32_t>> takenElsewhere;
    // Key codes this keyboard has no key for: they do not register.
    std::set<uint32_t> missingKeys;
};

}  // namespace vocalynx::test
