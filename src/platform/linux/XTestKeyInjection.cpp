#include "platform/linux/XTestKeyInjection.h"


#include <QCoreApplication>
#include <algorithm>

#include "platform/linux/KeyTable.h"

// X headers last: their macros (None, KeyPress, Bool...) clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace vocalynx {

namespace {

// The keysym that carries a Unicode scalar value: Latin-1 characters are their own keysym,
// everything else uses the Unicode keysym range.
unsigned long keysymForCodePoint(char32_t cp) {
    if (cp == '\n' || cp == '\r') return XK_Return;
    if (cp == '\t') return XK_Tab;
    if (cp == '\b') return XK_BackSpace;
    if ((cp >= 0x20 && cp <= 0x7e) || (cp >= 0xa0 && cp <= 0xff)) return cp;
    return 0x01000000UL | cp;
}

// The mapping is read again when it is older than this, so a layout switch is noticed.
constexpr qint64 kMappingMaxAgeMs = 500;

}  // namespace

XTestKeyInjection::XTestKeyInjection(X11Session& session) : session_(session) {
    clock_.start();
    if (QCoreApplication::instance()) {
        restoreTimer_ = std::make_unique<QTimer>();
        restoreTimer_->setSingleShot(true);
        restoreTimer_->setInterval(restoreDelayMs);
        QObject::connect(restoreTimer_.get(), &QTimer::timeout, [this] { restoreMapping(); });
    }
}

XTestKeyInjection::~XTestKeyInjection() { restoreMapping(); }

bool XTestKeyInjection::canInjectKeys() { return session_.display() && session_.hasXTest(); }

bool XTestKeyInjection::canCreateEvents() { return canInjectKeys(); }

int XTestKeyInjection::modifierKeycode(unsigned long keysym) {
    return XKeysymToKeycode(session_.display(), keysym);
}

void XTestKeyInjection::tap(int keycode, const std::vector<int>& modifierKeycodes) {
    Display* d = session_.display();
    for (int m : modifierKeycodes) XTestFakeKeyEvent(d, static_cast<unsigned>(m), True, CurrentTime);
    XTestFakeKeyEvent(d, static_cast<unsigned>(keycode), True, CurrentTime);
    XTestFakeKeyEvent(d, static_cast<unsigned>(keycode), False, CurrentTime);
    for (auto it = modifierKeycodes.rbegin(); it != modifierKeycodes.rend(); ++it)
        XTestFakeKeyEvent(d, static_cast<unsigned>(*it), False, CurrentTime);
}

bool XTestKeyInjection::postKey(uint16_t keyCode, uint64_t flags) {
    if (!canInjectKeys()) return false;
    const auto keysym = KeyTable::keysymForKeyCode(keyCode);
    if (!keysym) return false;
    const int keycode = XKeysymToKeycode(session_.display(), *keysym);
    if (keycode == 0) return false;
    const unsigned int mods = KeyTable::xModifiersForEventFlags(flags);
    std::vector<int> modifierKeys;
    const std::pair<unsigned int, unsigned long> modifierSyms[] = {
        {ControlMask, XK_Control_L}, {Mod1Mask, XK_Alt_L}, {ShiftMask, XK_Shift_L}, {Mod4Mask, XK_Super_L}};
    for (const auto& [mask, sym] : modifierSyms) {
        if (!(mods & mask)) continue;
        const int code = modifierKeycode(sym);
        if (code == 0) return false;
        modifierKeys.push_back(code);
    }
    tap(keycode, modifierKeys);
    XFlush(session_.display());
    return true;
}

void XTestKeyInjection::postUnicodeUnit(char16_t unit) {
    if (QChar::isHighSurrogate(unit)) {
        pendingHighSurrogate_ = unit;
        return;
    }
    if (QChar::isLowSurrogate(unit)) {
        const char16_t high = pendingHighSurrogate_;
        pendingHighSurrogate_ = 0;
        if (high) typeCodePoint(QChar::surrogateToUcs4(high, unit));
        return;
    }
    pendingHighSurrogate_ = 0;
    typeCodePoint(unit);
}

void XTestKeyInjection::refreshMapping() {
    Display* d = session_.display();
    XDisplayKeycodes(d, &minKeycode_, &maxKeycode_);
    int perKeycode = 0;
    KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(minKeycode_), maxKeycode_ - minKeycode_ + 1, &perKeycode);
    mapping_.clear();
    keysymsPerKeycode_ = 0;
    if (syms) {
        keysymsPerKeycode_ = perKeycode;
        mapping_.assign(syms, syms + static_cast<size_t>(perKeycode * (maxKeycode_ - minKeycode_ + 1)));
        XFree(syms);
    }
    // Spare key codes: those with no symbol at all, plus the ones we bound ourselves.
    std::vector<Spare> spares;
    for (int code = minKeycode_; code <= maxKeycode_; ++code) {
        const auto ours = std::find_if(spares_.begin(), spares_.end(), [code](const Spare& s) { return s.keycode == code; });
        if (ours != spares_.end()) {
            spares.push_back(*ours);
            continue;
        }
        bool empty = true;
        for (int i = 0; i < keysymsPerKeycode_; ++i)
            if (mapping_[static_cast<size_t>((code - minKeycode_) * keysymsPerKeycode_ + i)] != NoSymbol) empty = false;
        if (empty) spares.push_back({code, 0, 0});
    }
    spares_ = std::move(spares);
    mappingAge_.restart();
}

std::optional<XTestKeyInjection::Located> XTestKeyInjection::locate(unsigned long keysym) {
    for (const Spare& spare : spares_)
        if (spare.keysym == keysym) return Located{spare.keycode, false};
    const int levels = std::min(keysymsPerKeycode_, 2);
    for (int code = minKeycode_; code <= maxKeycode_; ++code) {
        const size_t base = static_cast<size_t>((code - minKeycode_) * keysymsPerKeycode_);
        for (int level = 0; level < levels; ++level)
            if (mapping_[base + static_cast<size_t>(level)] == keysym) {
                // Only the second symbol of a key needs Shift; a key whose two symbols are the same
                // (or a letter with one symbol) takes the first.
                return Located{code, level == 1};
            }
    }
    return std::nullopt;
}

std::optional<int> XTestKeyInjection::bindSpare(unsigned long keysym) {
    if (spares_.empty()) return std::nullopt;
    // A free spare, else the one used longest ago.
    auto chosen = std::find_if(spares_.begin(), spares_.end(), [](const Spare& s) { return s.keysym == 0; });
    if (chosen == spares_.end())
        chosen = std::min_element(spares_.begin(), spares_.end(),
                                  [](const Spare& a, const Spare& b) { return a.lastUse < b.lastUse; });
    KeySym syms[2] = {keysym, keysym};
    XChangeKeyboardMapping(session_.display(), chosen->keycode, 2, syms, 1);
    chosen->keysym = keysym;
    return chosen->keycode;
}

bool XTestKeyInjection::typeCodePoint(char32_t codePoint) {
    if (!canInjectKeys()) return false;
    if (!mappingAge_.isValid() || mappingAge_.elapsed() > kMappingMaxAgeMs) refreshMapping();
    const unsigned long keysym = keysymForCodePoint(codePoint);
    std::optional<Located> where = locate(keysym);
    if (!where) {
        const auto spare = bindSpare(keysym);
        if (!spare) return false;
        where = Located{*spare, false};
    }
    for (Spare& spare : spares_)
        if (spare.keycode == where->keycode) spare.lastUse = clock_.elapsed() + 1;
    std::vector<int> modifiers;
    if (where->shift) {
        const int shift = modifierKeycode(XK_Shift_L);
        if (shift) modifiers.push_back(shift);
    }
    tap(where->keycode, modifiers);
    XFlush(session_.display());
    if (restoreTimer_ && boundSpareCount() > 0) restoreTimer_->start();
    return true;
}

int XTestKeyInjection::boundSpareCount() const {
    return static_cast<int>(std::count_if(spares_.begin(), spares_.end(), [](const Spare& s) { return s.keysym != 0; }));
}

void XTestKeyInjection::restoreMapping() {
    Display* d = session_.display();
    if (!d) return;
    bool changed = false;
    for (Spare& spare : spares_) {
        if (spare.keysym == 0) continue;
        KeySym none[2] = {NoSymbol, NoSymbol};
        XChangeKeyboardMapping(d, spare.keycode, 2, none, 1);
        spare.keysym = 0;
        changed = true;
    }
    if (changed) {
        XFlush(d);
        mappingAge_.invalidate();
    }
}

}  // namespace vocalynx
