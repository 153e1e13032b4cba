#pragma once
#include <QElapsedTimer>
#include <QTimer>
#include <map>
#include <memory>
#include <vector>

#include "platform/KeyEventInjection.h"
#include "platform/linux/X11Session.h"

namespace vocalynx {

// Synthetic key events through XTest. A character is typed with the key that yields it in the
// current layout (Shift added when it sits on the shifted level); a character the layout lacks is
// bound to a spare (unmapped) key code for its press. Spare bindings are kept while typing goes
// on, so that every client has read the mapping before its key events arrive, and are put back to
// unmapped once typing has been idle for restoreDelayMs (and when this object goes away).
class XTestKeyInjection final : public KeyEventInjection {
public:
    explicit XTestKeyInjection(X11Session& session);
    ~XTestKeyInjection() override;

    bool canInjectKeys() override;
    bool canCreateEvents() override;
    bool postKey(uint16_t keyCode, uint64_t flags) override;
    void postUnicodeUnit(char16_t unit) override;

    // Types one Unicode scalar value. False when it cannot be typed (no display, no spare key).
    bool typeCodePoint(char32_t codePoint);
    // Puts every spare key code bound so far back to unmapped.
    void restoreMapping();
    int boundSpareCount() const;

    static constexpr int restoreDelayMs = 1000;

private:
    struct Located {
        int keycode = 0;
        bool shift = false;
    };
    struct Spare {
        int keycode = 0;
        unsigned long keysym = 0;  // 0: free
        qint64 lastUse = 0;
    };
    void refreshMapping();
    std::optional<Located> locate(unsigned long keysym);
    std::optional<int> bindSpare(unsigned long keysym);
    void tap(int keycode, const std::vector<int>& modifierKeycodes);
    int modifierKeycode(unsigned long keysym);

    X11Session& session_;
    int minKeycode_ = 8;
    int maxKeycode_ = 255;
    int keysymsPerKeycode_ = 0;
    std::vector<unsigned long> mapping_;  // the core keyboard mapping, as read from the server
    QElapsedTimer mappingAge_;
    QElapsedTimer clock_;
    std::vector<Spare> spares_;
    char16_t pendingHighSurrogate_ = 0;
    std::unique_ptr<QTimer> restoreTimer_;
};

}  // namespace vocalynx
