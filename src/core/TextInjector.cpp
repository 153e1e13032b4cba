#include "core/TextInjector.h"

#include "core/Text.h"

namespace vocalynx {

TextInjector::TextInjector(Runtime& runtime, KeyEventInjection& keys, Clipboard& clipboard)
    : runtime_(runtime), keys_(keys), clipboard_(clipboard), weak_(this, &runtime.main, "TextInjector") {}

TextInjector::~TextInjector() { weak_.invalidate(); }

void TextInjector::diagnostics(const QString& rest) {
    runtime_.log.line(QStringLiteral("[Vocalynx][InjectionDiagnostics] ") + runtime_.timestampNow() + QLatin1Char(' ') +
                      rest);
}

void TextInjector::injectText(const QString& text, InjectionMode mode) {
    assertOnSequence(runtime_.main, "TextInjector::injectText");
    if (text.isEmpty()) return;
    runtime_.log.line(QStringLiteral("[Vocalynx] Injecting text (") + injectionModeName(mode) + QStringLiteral("): ") +
                      characterPrefix(text, 50) + QStringLiteral("..."));
    if (mode == InjectionMode::clipboard)
        pasteViaClipboard(text);
    else
        typeViaKeyEvents(text);
}

void TextInjector::pasteViaClipboard(const QString& text) {
    assertOnSequence(runtime_.main, "TextInjector::pasteViaClipboard");
    diagnostics(QStringLiteral("clipboard set begin length=") + QString::number(characterCount(text)));
    const bool written = clipboard_.setText(text);
    diagnostics(QStringLiteral("clipboard set result=") + boolText(written));
    diagnostics(QStringLiteral("Cmd+V scheduled delay=0.15s"));
    // The earlier clipboard contents are not restored: the text stays there for the user.
    runtime_.main.postAfter(seconds(pasteDelaySeconds), weak_.bind([](TextInjector& self) { self.postCommandV(); }));
}

void TextInjector::postCommandV() {
    assertOnSequence(runtime_.main, "TextInjector::postCommandV");
    if (!keys_.canCreateEvents()) return;
    if (!keys_.postPasteChord()) {
        diagnostics(QStringLiteral("Cmd+V failed"));
        runtime_.log.line(QStringLiteral("[Vocalynx] Cmd+V failed: the paste keys could not be posted; the text is on the clipboard"));
        return;
    }
    diagnostics(QStringLiteral("Cmd+V posted"));
    runtime_.log.line(QStringLiteral("[Vocalynx] Cmd+V posted"));
}

void TextInjector::typeViaKeyEvents(const QString& text) {
    assertOnSequence(runtime_.main, "TextInjector::typeViaKeyEvents");
    if (!keys_.canInjectKeys()) {
        diagnostics(QStringLiteral("keyboard injection unavailable accessibility=false"));
        runtime_.log.line(QStringLiteral("[Vocalynx] Accessibility not trusted, falling back to clipboard"));
        pasteViaClipboard(text);
        return;
    }
    if (!keys_.canCreateEvents()) {
        diagnostics(QStringLiteral("keyboard injection missing CGEventSource; fallback clipboard"));
        pasteViaClipboard(text);
        return;
    }
    if (text.size() > maxTypedUnits) {
        const QString count = QString::number(text.size());
        diagnostics(QStringLiteral("keyboard injection too long chars=") + count + QStringLiteral(" limit=") +
                    QString::number(maxTypedUnits) + QStringLiteral("; fallback clipboard"));
        runtime_.log.line(QStringLiteral("[Vocalynx] Text too long to type (") + count +
                          QStringLiteral(" chars), pasting through the clipboard"));
        pasteViaClipboard(text);
        return;
    }
    keys_.typeText(text, [ref = weak_.weak(), units = text.size()](bool complete) {
        if (TextInjector* self = ref.get()) self->typed(units, complete);
    });
}

void TextInjector::typed(qsizetype units, bool complete) {
    const QString count = QString::number(units);
    if (!complete) {
        diagnostics(QStringLiteral("keyboard injection incomplete chars=") + count);
        runtime_.log.line(QStringLiteral("[Vocalynx] Some characters could not be typed"));
    }
    diagnostics(QStringLiteral("keyboard injection done chars=") + count);
    runtime_.log.line(QStringLiteral("[Vocalynx] Keyboard injection done (") + count + QStringLiteral(" chars)"));
}

}  // namespace vocalynx
