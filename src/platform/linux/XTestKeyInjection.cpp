#include "platform/linux/XTestKeyInjection.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/linux/KeyTable.h"

// X headers last: their macros (None, KeyPress, Bool...) clash with Qt's names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XKBproto.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace vocalynx {

namespace {

// The keysym bound to a spare key code for a character: Latin-1 characters are their own keysym,
// everything else uses the Unicode keysym range.
unsigned long keysymForCodePoint(char32_t cp) {
    if (cp == '\n' || cp == '\r') return XK_Return;
    if (cp == '\t') return XK_Tab;
    if ((cp >= 0x20 && cp <= 0x7e) || (cp >= 0xa0 && cp <= 0xff)) return cp;
    return 0x01000000UL | cp;
}

// The character a layout keysym types, 0 for none. Keypad keys are left out (applications may
// treat them as keys rather than text), and so are dead keys, which would compose with the next
// character instead of typing one.
char32_t characterOfKeysym(unsigned long sym) {
    if (sym == NoSymbol) return 0;
    if (sym >= XK_KP_Space && sym <= XK_KP_9) return 0;
    if (sym >= XK_dead_grave && sym <= 0xfe8f) return 0;
    if (sym == XK_Return) return '\n';
    if (sym == XK_Tab) return '\t';
    const uint32_t u = xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(sym));
    if (u < 0x20 || u == 0x7f) return 0;
    return u;
}

// The group a key uses when the keyboard's group is `group`, as the server and clients compute it.
int effectiveGroup(XkbDescPtr xkb, int code, int group) {
    const int groups = XkbKeyNumGroups(xkb, code);
    if (group < groups) return group;
    const unsigned char info = XkbKeyGroupInfo(xkb, code);
    switch (XkbOutOfRangeGroupAction(info)) {
    case XkbRedirectIntoRange: {
        const int target = XkbOutOfRangeGroupNumber(info);
        return target < groups ? target : 0;
    }
    case XkbClampIntoRange:
        return groups - 1;
    default:
        return group % groups;
    }
}

// The shift level a key type gives for a modifier state.
int levelFor(XkbKeyTypePtr type, unsigned int mods) {
    mods &= type->mods.mask;
    for (int i = 0; i < type->map_count; ++i)
        if (type->map[i].active && type->map[i].mods.mask == mods) return type->map[i].level;
    return 0;
}

// Errors on our own connections (a focus window that went away, a key code refused) are expected and
// must not reach Xlib's default handler, which ends the process. Xlib has one handler per process,
// so ours passes errors on every other connection to the handler that was there before.
std::vector<Display*> quietDisplays;
XErrorHandler previousHandler = nullptr;
bool handlerInstalled = false;

int quietErrors(Display* display, XErrorEvent* event) {
    if (std::find(quietDisplays.begin(), quietDisplays.end(), display) != quietDisplays.end()) return 0;
    return previousHandler ? previousHandler(display, event) : 0;
}

void keepQuiet(Display* display) {
    quietDisplays.push_back(display);
    if (!handlerInstalled) {
        previousHandler = XSetErrorHandler(quietErrors);
        handlerInstalled = true;
    }
}

// What the fatal-signal handler writes to put the keyboard back: prepared requests on a connection
// of its own that nothing else writes to. Two buffers, so that a new one is prepared while the
// published one stays whole.
struct EmergencyBuffer {
    char bytes[4096];
    size_t length = 0;
};
EmergencyBuffer emergencyBuffers[2];
std::atomic<int> emergencyActive{-1};
int emergencyFd = -1;
int emergencyXkbOpcode = 0;
Display* emergencyDisplay = nullptr;
// A window of the typing connection's own, named in the emergency KillClient request: ending that
// connection on the server drops whatever of its requests the server has not carried out yet, so
// a binding or an unlock still queued there can never land after the put-back.
std::atomic<unsigned long> typingConnectionResource{0};

void openEmergencyConnection(const char* name) {
    if (emergencyDisplay) return;
    emergencyDisplay = XOpenDisplay(name);
    if (!emergencyDisplay) return;
    keepQuiet(emergencyDisplay);
    int opcode = 0, event = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (XkbQueryExtension(emergencyDisplay, &opcode, &event, &error, &major, &minor)) emergencyXkbOpcode = opcode;
    XSync(emergencyDisplay, False);
    emergencyFd = ConnectionNumber(emergencyDisplay);
}

// The server tells every client about every mapping change; nobody reads this connection
// otherwise, so its input is thrown away now and then.
void drainEmergencyConnection() {
    if (emergencyFd < 0) return;
    char sink[4096];
    while (::recv(emergencyFd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
}

}  // namespace

XTestKeyInjection::XTestKeyInjection(X11Session& session) : session_(session) {
    clock_.start();
    if (!session_.display() || !session_.hasXTest() || !QCoreApplication::instance()) return;
    const char* name = DisplayString(session_.display());
    display_ = XOpenDisplay(name);
    if (!display_) return;
    keepQuiet(display_);
    int opcode = 0, event = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(display_, &opcode, &event, &error, &major, &minor)) {
        XCloseDisplay(display_);
        display_ = nullptr;
        return;
    }
    openEmergencyConnection(name);
    wmProtocols_ = XInternAtom(display_, "WM_PROTOCOLS", False);
    netWmPing_ = XInternAtom(display_, "_NET_WM_PING", False);
    // Ping answers go to the root window (toolkits send them with either structure mask).
    XSelectInput(display_, DefaultRootWindow(display_), StructureNotifyMask | SubstructureNotifyMask);
    XSetWindowAttributes none{};
    typingConnectionResource.store(XCreateWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, InputOnly,
                                                 CopyFromParent, 0, &none));
    XFlush(display_);
    timer_ = std::make_unique<QTimer>();
    timer_->setSingleShot(true);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { onTimer(); });
    notifier_ = new QSocketNotifier(ConnectionNumber(display_), QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] { readEvents(); });
}

XTestKeyInjection::~XTestKeyInjection() {
    if (timer_) timer_->stop();
    delete notifier_;
    if (!display_) return;
    if (sessionOpen_) closeSession();
    restoreSpares();
    // Keys pressed again for the user and since let go on the keyboard are let go on the XTest
    // device too, which outlives this connection.
    const std::vector<int> stillHeld = physicallyHeld(heldByUs_);
    for (int code : heldByUs_)
        if (std::find(stillHeld.begin(), stillHeld.end(), code) == stillHeld.end())
            XTestFakeKeyEvent(display_, static_cast<unsigned>(code), False, CurrentTime);
    if (xkb_) XkbFreeKeyboard(xkb_, 0, True);
    typingConnectionResource.store(0);
    XSync(display_, False);
    quietDisplays.erase(std::remove(quietDisplays.begin(), quietDisplays.end(), display_), quietDisplays.end());
    XCloseDisplay(display_);
}

bool XTestKeyInjection::canInjectKeys() { return display_ != nullptr; }

bool XTestKeyInjection::canCreateEvents() { return canInjectKeys(); }

bool XTestKeyInjection::postKey(uint16_t keyCode, uint64_t flags) {
    if (!canInjectKeys()) return false;
    const auto keysym = KeyTable::keysymForKeyCode(keyCode);
    if (!keysym) return false;
    const unsigned int mods = KeyTable::xModifiersForEventFlags(flags);
    std::vector<unsigned long> modifiers;
    const std::pair<unsigned int, unsigned long> modifierSyms[] = {
        {ControlMask, XK_Control_L}, {Mod1Mask, XK_Alt_L}, {ShiftMask, XK_Shift_L}, {Mod4Mask, XK_Super_L}};
    for (const auto& [mask, sym] : modifierSyms)
        if (mods & mask) modifiers.push_back(sym);
    return queueChord(*keysym, modifiers);
}

bool XTestKeyInjection::postPasteChord() {
    if (!canInjectKeys()) return false;
    return queueChord(XK_Insert, {XK_Shift_L});
}

bool XTestKeyInjection::queueChord(unsigned long keysym, const std::vector<unsigned long>& modifiers) {
    Job job;
    job.keycode = XKeysymToKeycode(display_, keysym);
    if (job.keycode == 0) return false;
    for (unsigned long sym : modifiers) {
        const int code = XKeysymToKeycode(display_, sym);
        if (code == 0) return false;
        job.chordModifiers.push_back(code);
    }
    jobs_.push_back(std::move(job));
    pump();
    return true;
}

void XTestKeyInjection::typeText(const QString& text, std::function<void(bool)> done) {
    if (!canInjectKeys()) {
        if (done) done(false);
        return;
    }
    Job job;
    job.text = text.toStdU32String();
    job.done = std::move(done);
    jobs_.push_back(std::move(job));
    pump();
}

bool XTestKeyInjection::idle() const {
    return jobs_.empty() && !sessionOpen_ && !waiting_ && boundSpareCount() == 0;
}

int XTestKeyInjection::boundSpareCount() const {
    return static_cast<int>(std::count_if(spares_.begin(), spares_.end(), [](const Spare& s) { return s.syms[0] != 0; }));
}

void XTestKeyInjection::schedule(int ms) {
    if (timer_) timer_->start(std::max(0, ms));
}

void XTestKeyInjection::pump() {
    if (waiting_ || !display_) return;
    QElapsedTimer slice;
    slice.start();
    while (!jobs_.empty()) {
        if (!sessionOpen_) openSession();
        Job& job = jobs_.front();
        if (job.keycode) {
            Display* d = display_;
            for (int m : job.chordModifiers) XTestFakeKeyEvent(d, static_cast<unsigned>(m), True, CurrentTime);
            XTestFakeKeyEvent(d, static_cast<unsigned>(job.keycode), True, CurrentTime);
            XTestFakeKeyEvent(d, static_cast<unsigned>(job.keycode), False, CurrentTime);
            for (auto it = job.chordModifiers.rbegin(); it != job.chordModifiers.rend(); ++it)
                XTestFakeKeyEvent(d, static_cast<unsigned>(*it), False, CurrentTime);
        } else {
            while (job.pos < job.text.size()) {
                if (slice.elapsed() >= sliceMs) {
                    XFlush(display_);
                    schedule(0);
                    return;
                }
                const char32_t cp = job.text[job.pos];
                std::optional<Key> key = keyFor(cp);
                if (!key) {
                    const Bind bound = bindRound(job);
                    if (bound == Bind::wait) {
                        waitForReuse();
                        return;
                    }
                    if (bound == Bind::impossible) {
                        job.ok = false;
                        ++job.pos;
                        continue;
                    }
                    if (pingTarget_) {
                        // The new binding must be in effect in the application before the first
                        // press of it (see waitForMapping).
                        waitForMapping();
                        return;
                    }
                    continue;
                }
                tap(*key);
                ++job.pos;
            }
        }
        auto done = std::move(job.done);
        const bool ok = job.ok;
        jobs_.pop_front();
        if (done) done(ok);
    }
    if (sessionOpen_) closeSession();
    XFlush(display_);
    if (!restorePending_) return;
    const bool allSettled = std::all_of(spares_.begin(), spares_.end(), [this](const Spare& s) { return settled(s); });
    if (!allSettled) {
        waitForReuse();
        return;
    }
    restoreSpares();
}

void XTestKeyInjection::openSession() {
    sessionOpen_ = true;
    Display* d = display_;
    // Modifier keys the user holds would change every key we send (Shift: case; Ctrl, Alt, Super:
    // shortcuts instead of text). Release them for the length of the typing.
    releasedKeys_.clear();
    char down[32];
    XQueryKeymap(d, down);
    // Keys we pressed again for the user after the last session are held by the XTest device; let
    // them go there first, or its next press of them would be taken for a repeat and dropped. (That
    // also lets them go for the keyboard when the user holds them again: they are among the held
    // keys read above, and pressed again after typing.)
    for (int code : heldByUs_) XTestFakeKeyEvent(d, static_cast<unsigned>(code), False, CurrentTime);
    heldByUs_.clear();
    if (XModifierKeymap* modmap = XGetModifierMapping(d)) {
        for (int i = 0; i < 8 * modmap->max_keypermod; ++i) {
            const int code = modmap->modifiermap[i];
            if (code == 0 || !(down[code / 8] & (1 << (code % 8)))) continue;
            if (std::find(releasedKeys_.begin(), releasedKeys_.end(), code) != releasedKeys_.end()) continue;
            XTestFakeKeyEvent(d, static_cast<unsigned>(code), False, CurrentTime);
            releasedKeys_.push_back(code);
        }
        XFreeModifiermap(modmap);
    }
    XkbStateRec state{};
    XkbGetState(d, XkbUseCoreKbd, &state);
    if (state.latched_mods) XkbLatchModifiers(d, XkbUseCoreKbd, state.latched_mods, 0);
    unlockedCaps_ = (state.locked_mods & LockMask) != 0;
    if (unlockedCaps_) XkbLockModifiers(d, XkbUseCoreKbd, LockMask, 0);
    readLayout();
    publishEmergency(unlockedCaps_);
    pingTarget_ = findPingTarget();
}

void XTestKeyInjection::closeSession() {
    sessionOpen_ = false;
    Display* d = display_;
    // The user's modifier keys that are still held on a keyboard are pressed again, so the user's
    // next key carries them as the user expects.
    heldByUs_ = physicallyHeld(releasedKeys_);
    for (int code : heldByUs_) XTestFakeKeyEvent(d, static_cast<unsigned>(code), True, CurrentTime);
    releasedKeys_.clear();
    if (unlockedCaps_) XkbLockModifiers(d, XkbUseCoreKbd, LockMask, LockMask);
    unlockedCaps_ = false;
    XFlush(d);
    publishEmergency(false);
    if (boundSpareCount() > 0) restorePending_ = true;
}

std::vector<int> XTestKeyInjection::physicallyHeld(const std::vector<int>& keycodes) {
    std::vector<int> held;
    if (keycodes.empty()) return held;
    bool down[256] = {};
    int count = 0;
    XDeviceInfo* devices = XListInputDevices(display_, &count);
    for (int i = 0; devices && i < count; ++i) {
        // Slave keyboards only, and not the XTest device: its keys are ours.
        if (devices[i].use != IsXExtensionKeyboard) continue;
        if (devices[i].name && std::strstr(devices[i].name, "XTEST")) continue;
        XDevice* device = XOpenDevice(display_, devices[i].id);
        if (!device) continue;
        if (XDeviceState* state = XQueryDeviceState(display_, device)) {
            auto* cls = state->data;
            for (int c = 0; c < state->num_classes; ++c) {
                if (cls->c_class == KeyClass) {
                    const auto* keys = reinterpret_cast<XKeyState*>(cls);
                    for (int code = 0; code < 256 && code / 8 < 32; ++code)
                        if (keys->keys[code / 8] & (1 << (code % 8))) down[code] = true;
                }
                cls = reinterpret_cast<XInputClass*>(reinterpret_cast<char*>(cls) + cls->length);
            }
            XFreeDeviceState(state);
        }
        XCloseDevice(display_, device);
    }
    if (devices) XFreeDeviceList(devices);
    for (int code : keycodes)
        if (code > 0 && code < 256 && down[code]) held.push_back(code);
    return held;
}

void XTestKeyInjection::readLayout() {
    Display* d = display_;
    if (xkb_) XkbFreeKeyboard(xkb_, 0, True);
    xkb_ = XkbGetMap(d, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
    layoutKeys_.clear();
    shiftKey_ = level3Key_ = 0;
    shiftMask_ = level3Mask_ = 0;
    if (!xkb_ || !xkb_->map) return;
    XkbStateRec state{};
    XkbGetState(d, XkbUseCoreKbd, &state);
    group_ = state.group;
    keptMods_ = state.mods;

    // Spare codes: those without any symbol, and those we bound ourselves. A layout loaded since
    // (setxkbmap) replaces our bindings: a code that holds something else is no longer ours.
    std::vector<Spare> spares;
    for (int code = xkb_->min_key_code; code <= xkb_->max_key_code; ++code) {
        const int groups = XkbKeyNumGroups(xkb_, code);
        auto ours = std::find_if(spares_.begin(), spares_.end(), [code](const Spare& s) { return s.keycode == code; });
        if (groups == 0) {
            Spare spare = ours != spares_.end() ? *ours : Spare{code, {0, 0}, -1};
            spare.syms[0] = spare.syms[1] = 0;
            spares.push_back(spare);
        } else if (ours != spares_.end() && ours->syms[0] != 0 && XkbKeySymEntry(xkb_, code, 0, 0) == ours->syms[0]) {
            spares.push_back(*ours);
        }
    }
    spares_ = std::move(spares);

    const auto modifierKey = [&](unsigned long sym, unsigned int wanted) -> std::pair<int, unsigned int> {
        const int code = XKeysymToKeycode(d, sym);
        if (code == 0) return {0, 0};
        const unsigned int mask = xkb_->map->modmap[code] & wanted;
        return {mask ? code : 0, mask};
    };
    std::tie(shiftKey_, shiftMask_) = modifierKey(XK_Shift_L, ShiftMask);
    // The third level (AltGr) is used when its key sets one modifier that is not one of the core ones.
    std::tie(level3Key_, level3Mask_) = modifierKey(XK_ISO_Level3_Shift, Mod1Mask | Mod2Mask | Mod3Mask | Mod4Mask | Mod5Mask);
    if (level3Mask_ & (level3Mask_ - 1)) level3Key_ = 0, level3Mask_ = 0;

    std::vector<unsigned int> choices{0};
    if (shiftKey_) choices.push_back(shiftMask_);
    if (level3Key_) choices.push_back(level3Mask_);
    if (shiftKey_ && level3Key_) choices.push_back(shiftMask_ | level3Mask_);
    for (unsigned int mods : choices) {
        for (int code = xkb_->min_key_code; code <= xkb_->max_key_code; ++code) {
            const int groups = XkbKeyNumGroups(xkb_, code);
            if (groups == 0) continue;
            if (std::any_of(spares_.begin(), spares_.end(), [code](const Spare& s) { return s.keycode == code; })) continue;
            const int group = effectiveGroup(xkb_, code, group_);
            const int level = levelFor(XkbKeyKeyType(xkb_, code, group), mods | keptMods_);
            if (level >= XkbKeyGroupWidth(xkb_, code, group)) continue;
            const char32_t ch = characterOfKeysym(XkbKeySymEntry(xkb_, code, level, group));
            if (ch) layoutKeys_.try_emplace(ch, Key{code, mods, false});
        }
    }
}

std::optional<XTestKeyInjection::Key> XTestKeyInjection::keyFor(char32_t cp) const {
    if (cp == '\r') cp = '\n';
    if (auto it = layoutKeys_.find(cp); it != layoutKeys_.end()) return it->second;
    const unsigned long sym = keysymForCodePoint(cp);
    for (const Spare& spare : spares_) {
        if (spare.syms[0] == sym) return Key{spare.keycode, 0, true};
        if (spare.syms[1] == sym && shiftKey_) return Key{spare.keycode, shiftMask_, true};
    }
    return std::nullopt;
}

bool XTestKeyInjection::settled(const Spare& spare) const {
    if (spare.lastPress < 0) return true;
    return pingTarget_ == 0 && clock_.elapsed() - spare.lastPress >= unconfirmedReuseMs;
}

XTestKeyInjection::Bind XTestKeyInjection::bindRound(const Job& job) {
    if (spares_.empty()) return Bind::impossible;
    // Only codes the application has surely read since their last press may be bound again. The
    // characters of the text ahead that need a spare code are bound to all of them at once, in one
    // request, so that the application re-reads the mapping once a round rather than once a
    // character.
    std::vector<Spare*> free;
    for (Spare& spare : spares_)
        if (settled(spare)) free.push_back(&spare);
    if (free.empty()) return Bind::wait;
    const size_t perCode = shiftKey_ ? 2 : 1;
    const size_t capacity = free.size() * perCode;
    std::vector<Spare> before;
    for (Spare* spare : free) {
        before.push_back(*spare);
        spare->syms[0] = spare->syms[1] = 0;  // going away: not a key for what follows
    }
    std::vector<unsigned long> wanted;
    for (size_t i = job.pos; i < job.text.size() && i < job.pos + lookAhead && wanted.size() < capacity; ++i) {
        if (keyFor(job.text[i])) continue;
        const unsigned long sym = keysymForCodePoint(job.text[i]);
        if (std::find(wanted.begin(), wanted.end(), sym) == wanted.end()) wanted.push_back(sym);
    }
    for (size_t i = 0; i < free.size(); ++i) {
        const size_t first = i * perCode;
        free[i]->syms[0] = first < wanted.size() ? wanted[first] : 0;
        free[i]->syms[1] = perCode == 2 && first + 1 < wanted.size() ? wanted[first + 1] : 0;
    }
    std::vector<Spare*> changed;
    for (size_t i = 0; i < free.size(); ++i)
        if (free[i]->syms[0] != before[i].syms[0] || free[i]->syms[1] != before[i].syms[1]) changed.push_back(free[i]);
    writeSpares(changed);
    return Bind::bound;
}

void XTestKeyInjection::writeSpares(std::vector<Spare*> changed) {
    // One request for each run of neighbouring codes, so that a round costs the applications a
    // few re-readings of the mapping rather than one a character. Only spare codes are written.
    std::sort(changed.begin(), changed.end(), [](const Spare* a, const Spare* b) { return a->keycode < b->keycode; });
    for (size_t first = 0; first < changed.size();) {
        size_t end = first + 1;
        while (end < changed.size() && changed[end]->keycode == changed[end - 1]->keycode + 1) ++end;
        std::vector<KeySym> syms;
        for (size_t i = first; i < end; ++i) {
            const Spare* spare = changed[i];
            syms.push_back(spare->syms[0]);
            syms.push_back(spare->syms[1] ? spare->syms[1] : spare->syms[0]);
        }
        XChangeKeyboardMapping(display_, changed[first]->keycode, 2, syms.data(), static_cast<int>(end - first));
        first = end;
    }
}

void XTestKeyInjection::tap(const Key& key) {
    Display* d = display_;
    std::vector<int> modifiers;
    if ((key.mods & shiftMask_) && shiftKey_) modifiers.push_back(shiftKey_);
    if ((key.mods & level3Mask_) && level3Key_) modifiers.push_back(level3Key_);
    for (int m : modifiers) XTestFakeKeyEvent(d, static_cast<unsigned>(m), True, CurrentTime);
    XTestFakeKeyEvent(d, static_cast<unsigned>(key.keycode), True, CurrentTime);
    XTestFakeKeyEvent(d, static_cast<unsigned>(key.keycode), False, CurrentTime);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        XTestFakeKeyEvent(d, static_cast<unsigned>(*it), False, CurrentTime);
    if (key.spare)
        for (Spare& spare : spares_)
            if (spare.keycode == key.keycode) spare.lastPress = clock_.elapsed();
}

unsigned long XTestKeyInjection::findPingTarget() {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    if (focus == None || focus == PointerRoot) return 0;
    // The focus may sit on a child of the client's top-level window: walk up to the window that
    // lists the ping among its protocols.
    Window window = focus;
    for (int depth = 0; window && depth < 16; ++depth) {
        Atom* protocols = nullptr;
        int count = 0;
        if (XGetWMProtocols(display_, window, &protocols, &count)) {
            const bool pings = std::find(protocols, protocols + count, netWmPing_) != protocols + count;
            XFree(protocols);
            if (pings) return window;
        }
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int childCount = 0;
        if (!XQueryTree(display_, window, &root, &parent, &children, &childCount)) break;
        if (children) XFree(children);
        if (parent == root) break;
        window = parent;
    }
    return 0;
}

void XTestKeyInjection::sendPing() {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = pingTarget_;
    event.xclient.message_type = wmProtocols_;
    event.xclient.format = 32;
    pingToken_ = 0x56000000L | ((pingToken_ + 1) & 0xffffffL);
    event.xclient.data.l[0] = static_cast<long>(netWmPing_);
    event.xclient.data.l[1] = pingToken_;
    event.xclient.data.l[2] = static_cast<long>(pingTarget_);
    XSendEvent(display_, pingTarget_, False, NoEventMask, &event);
    XFlush(display_);
    pinging_ = true;
    schedule(pingTimeoutMs);
    readEvents();  // an answer Xlib already read off the socket
}

void XTestKeyInjection::waitForReuse() {
    waiting_ = true;
    if (pingTarget_) {
        // The application answers after it has handled every key sent before the ping.
        pingsLeft_ = 1;
        sendPing();
        return;
    }
    // Without pings: the server has passed the keys on once it answers; then wait out the pause
    // after the round's last press, so that every code of the round is free again at once.
    XSync(display_, False);
    qint64 latest = 0;
    for (const Spare& spare : spares_)
        if (spare.lastPress >= 0) latest = std::max(latest, spare.lastPress + unconfirmedReuseMs - clock_.elapsed());
    schedule(static_cast<int>(std::max<qint64>(1, latest)));
    readEvents();
}

void XTestKeyInjection::waitForMapping() {
    // Some applications (Chromium through its GTK input method) translate key codes with a copy of
    // the mapping that another X connection of theirs keeps, refreshed when that connection's
    // events are handled, which is not ordered with the keys on the connection that receives them.
    // An answer to a ping proves that the application went around its event loop once after the
    // change reached it; the second, that it went around again, with the other connection's
    // events, which were already waiting the first time, handled in between.
    waiting_ = true;
    pingsLeft_ = mappingRoundTrips;
    sendPing();
}

void XTestKeyInjection::confirmed() {
    for (Spare& spare : spares_) spare.lastPress = -1;
    if (--pingsLeft_ > 0) {
        sendPing();
        return;
    }
    pinging_ = false;
    waiting_ = false;
    if (timer_) timer_->stop();
    pump();
}

void XTestKeyInjection::onTimer() {
    if (pinging_) {
        // No answer in time: this application is not asked again; pauses from now on.
        pinging_ = false;
        pingTarget_ = 0;
    }
    waiting_ = false;
    pump();
}

void XTestKeyInjection::readEvents() {
    if (!display_) return;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        // Mapping changes (every spare binding brings one) are only drained: refreshing Xlib's copy
        // of the mapping costs a round trip each, and the keys chords use are never spare codes.
        if (event.type == ClientMessage && pinging_ && event.xclient.message_type == wmProtocols_ &&
                   static_cast<unsigned long>(event.xclient.data.l[0]) == netWmPing_ &&
                   event.xclient.data.l[1] == pingToken_) {
            confirmed();
            return;
        }
    }
}

void XTestKeyInjection::restoreSpares() {
    restorePending_ = false;
    if (!display_) return;
    std::vector<Spare*> changed;
    for (Spare& spare : spares_) {
        if (spare.syms[0] == 0) continue;
        spare.syms[0] = spare.syms[1] = 0;
        spare.lastPress = -1;
        changed.push_back(&spare);
    }
    if (!changed.empty()) {
        writeSpares(changed);
        XFlush(display_);
    }
    publishEmergency(false);
    drainEmergencyConnection();
}

void XTestKeyInjection::publishEmergency(bool relockCaps) {
    if (emergencyFd < 0) return;
    const bool anyBound = boundSpareCount() > 0 || sessionOpen_;
    const int next = emergencyActive.load() == 0 ? 1 : 0;
    EmergencyBuffer& buffer = emergencyBuffers[next];
    size_t length = 0;
    const unsigned long victim = typingConnectionResource.load();
    if ((anyBound || relockCaps) && victim) {
        xResourceReq kill{};
        kill.reqType = X_KillClient;
        kill.length = sz_xResourceReq / 4;
        kill.id = static_cast<CARD32>(victim);
        std::memcpy(buffer.bytes + length, &kill, sz_xResourceReq);
        length += sz_xResourceReq;
    }
    if (anyBound) {
        for (const Spare& spare : spares_) {
            // The same request as the ordinary restore: two NoSymbol entries for the code.
            xChangeKeyboardMappingReq request{};
            const CARD32 noSymbol[2] = {0, 0};
            if (length + sz_xChangeKeyboardMappingReq + sizeof noSymbol + sz_xkbLatchLockStateReq + sz_xReq >
                sizeof buffer.bytes)
                break;
            request.reqType = X_ChangeKeyboardMapping;
            request.keyCodes = 1;
            request.length = (sz_xChangeKeyboardMappingReq + sizeof noSymbol) / 4;
            request.firstKeyCode = static_cast<KeyCode>(spare.keycode);
            request.keySymsPerKeyCode = 2;
            std::memcpy(buffer.bytes + length, &request, sz_xChangeKeyboardMappingReq);
            std::memcpy(buffer.bytes + length + sz_xChangeKeyboardMappingReq, noSymbol, sizeof noSymbol);
            length += sz_xChangeKeyboardMappingReq + sizeof noSymbol;
        }
    }
    if (relockCaps && emergencyXkbOpcode && length + sz_xkbLatchLockStateReq <= sizeof buffer.bytes) {
        xkbLatchLockStateReq request{};
        request.reqType = static_cast<CARD8>(emergencyXkbOpcode);
        request.xkbReqType = X_kbLatchLockState;
        request.length = sz_xkbLatchLockStateReq / 4;
        request.deviceSpec = XkbUseCoreKbd;
        request.affectModLocks = LockMask;
        request.modLocks = LockMask;
        std::memcpy(buffer.bytes + length, &request, sz_xkbLatchLockStateReq);
        length += sz_xkbLatchLockStateReq;
    }
    if (length > 0) {
        // A round trip at the end: the handler waits for its reply, so the put-back has been
        // carried out before the process goes.
        xReq ask{};
        ask.reqType = X_GetInputFocus;
        ask.length = sz_xReq / 4;
        std::memcpy(buffer.bytes + length, &ask, sz_xReq);
        length += sz_xReq;
    }
    buffer.length = length;
    emergencyActive.store(length > 0 ? next : -1);
}

void XTestKeyInjection::restoreOnSignal() {
    // Signal context: only async-signal-safe calls.
    const int active = emergencyActive.load();
    if (active < 0 || emergencyFd < 0) return;
    const char* bytes = emergencyBuffers[active].bytes;
    size_t left = emergencyBuffers[active].length;
    int stalls = 0;
    while (left > 0) {
        const ssize_t written = ::write(emergencyFd, bytes, left);
        if (written > 0) {
            bytes += written;
            left -= static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && ++stalls < 20) {
            pollfd out{emergencyFd, POLLOUT, 0};
            ::poll(&out, 1, 50);
            continue;
        }
        break;
    }
    if (left > 0) return;
    // Wait (bounded) for the reply that ends the requests. What else arrives here is 32-byte events
    // (every mapping change is announced to every client) and errors; the one reply is ours.
    char unit[32];
    size_t have = 0;
    for (int waits = 0; waits < 40;) {
        const ssize_t got = ::read(emergencyFd, unit + have, sizeof unit - have);
        if (got > 0) {
            have += static_cast<size_t>(got);
            if (have < sizeof unit) continue;
            if (unit[0] == X_Reply) return;
            have = 0;
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) return;
        pollfd in{emergencyFd, POLLIN, 0};
        ::poll(&in, 1, 50);
        ++waits;
    }
}

}  // namespace vocalynx
