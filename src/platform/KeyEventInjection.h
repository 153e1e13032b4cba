#pragma once
#include <QString>
#include <cstdint>
#include <functional>

namespace vocalynx {

// Synthetic keyboard events delivered to whichever application has the keyboard focus, and the
// check that decides whether this process can post them at all.
class KeyEventInjection {
public:
    virtual ~KeyEventInjection() = default;
    // True when this process can post synthetic key events into other applications (on X11: a
    // display is open and the XTEST extension is present).
    virtual bool canInjectKeys() = 0;
    // True when key events can be created at all (an event source exists).
    virtual bool canCreateEvents() = 0;
    // Posts one press of the platform key code (down, then up) with the platform's key-event flag
    // mask held (0: no modifier), after every key and text posted before it. False when the events
    // cannot be created; nothing is posted then.
    virtual bool postKey(uint16_t keyCode, uint64_t flags) = 0;
    // Posts the chord that pastes the clipboard in the focused application, terminals included,
    // after every key and text posted before it. False when it cannot be posted.
    virtual bool postPasteChord() = 0;
    // Types the text as key events, after every key and text posted before it; the call returns at
    // once. `done` runs on the main thread when the last key went out, with false when some
    // character could not be typed.
    virtual void typeText(const QString& text, std::function<void(bool typed)> done) = 0;
};

}  // namespace vocalynx
