#pragma once
// Global hot keys for tests: registrations are recorded and a test "presses" a registered key.

#include <map>

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
        const Ref ref = nextRef++;
        registered[ref] = {keyCode, modifiers, id};
        ++registrations;
        return ref;
    }
    void unregisterHotKey(Ref ref) override { registered.erase(ref); }

    // Delivers a press of the registered key, as the system would; false when none matches.
    bool press(uint32_t keyCode, uint32_t modifiers) {
        for (const auto& [ref, r] : registered)
            if (r.keyCode == keyCode && r.modifiers == modifiers && handler) {
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
};

}  // namespace vocalynx::test
