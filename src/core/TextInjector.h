#pragma once
#include <QString>
#include <memory>

#include "core/Types.h"
#include "core/WeakHandle.h"
#include "platform/Clipboard.h"
#include "platform/KeyEventInjection.h"
#include "platform/Runtime.h"

namespace vocalynx {

// Types or pastes text into the application that has the keyboard focus.
class TextInjector {
public:
    TextInjector(Runtime& runtime, KeyEventInjection& keys, Clipboard& clipboard);
    ~TextInjector();

    void injectText(const QString& text, InjectionMode mode);
    // Puts the text on the clipboard and posts the paste chord 0.15 s later.
    void pasteViaClipboard(const QString& text);
    // Types the text as key events, after any text still being typed; falls back to the clipboard
    // when keys cannot be posted or the text is longer than maxTypedUnits.
    void typeViaKeyEvents(const QString& text);
    // The paste chord of the platform (Command-V's counterpart).
    void postCommandV();

    static constexpr double pasteDelaySeconds = 0.15;
    // The longest text typed key by key; a longer one is pasted, since posting its keys would hold
    // the main thread for seconds.
    static constexpr qsizetype maxTypedUnits = 10'000;
private:
    void diagnostics(const QString& rest);
    void typed(qsizetype units, bool complete);

    Runtime& runtime_;
    KeyEventInjection& keys_;
    Clipboard& clipboard_;
    // Delayed work holds this weakly, so a paste scheduled by a destroyed injector is dropped.
    WeakFactory<TextInjector> weak_;
};

}  // namespace vocalynx
