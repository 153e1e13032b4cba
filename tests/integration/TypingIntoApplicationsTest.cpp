// Typing and pasting into applications that run in processes of their own (xterm, a GTK 3 text
// view, a Qt text field, a text area in Chromium) through the private X server, under the layouts us, de, ru and us,ru with
// the Russian group active, and with keys the user holds or locks when typing starts. Each case
// starts the application, gives it the keyboard focus, types, and reads back what the application
// received.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>

#include "LiveInjection.h"
#include "LoopbackHttpServer.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include "XlibQtNames.h"

namespace vocalynx::test {
namespace {

enum class App { xterm, gtk, qt, chromium };
constexpr App kApps[] = {App::xterm, App::gtk, App::qt, App::chromium};

const char* appName(App app) {
    switch (app) {
    case App::xterm: return "xterm";
    case App::gtk: return "GTK";
    case App::qt: return "Qt";
    case App::chromium: return "Chromium";
    }
    return "";
}

// The page Chromium shows: a focused text area that sends its whole value, numbered, to the test's
// loopback server whenever it changes. Tab keeps the focus and inserts a tab, as an editor's text
// area does, so that a typed tab stays part of the text.
const char kChromiumPage[] = R"(<!doctype html><meta charset="utf-8"><title>%1</title>
<textarea id="text" autofocus style="width: 95vw; height: 90vh"></textarea>
<script>
const text = document.getElementById('text');
let sent = 0, pending = null;
function send() {
  pending = null;
  fetch('/value?' + (++sent) + '&' + encodeURIComponent(text.value));
}
// The first input is the test's warm-up key: cleared and reported, never part of the text.
let warm = false;
text.addEventListener('input', () => {
  if (!warm) {
    warm = true;
    text.value = '';
    fetch('/warm');
    return;
  }
  if (!pending) pending = setTimeout(send, 50);
});
text.addEventListener('keydown', (event) => {
  if (event.key !== 'Tab') return;
  event.preventDefault();
  text.setRangeText('\t', text.selectionStart, text.selectionEnd, 'end');
  text.dispatchEvent(new Event('input'));
});
// Ready once the window has the keyboard focus and the text area takes the keys.
const waiting = setInterval(() => {
  if (!document.hasFocus() || document.activeElement !== text) return;
  clearInterval(waiting);
  fetch('/ready');
}, 20);
</script>
)";

// A receiving application in a process of its own; what it received is read back from a file it
// writes (the text fields write their whole text, the terminal runs `cat` in a raw-ish mode), or,
// for Chromium, from what its page sends to a loopback server.
class Receiver {
public:
    Receiver(App app, Display* display, const QString& dir) : app_(app), display_(display) {
        file_ = dir + QStringLiteral("/received-") + QString::fromLatin1(appName(app));
        QFile::remove(file_);
        QFile::remove(file_ + QStringLiteral(".id"));
    }
    ~Receiver() {
        if (process_.state() != QProcess::NotRunning) {
            // Chromium ends its helper processes itself when asked to end.
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished(5000);
            }
        }
        // Chromium's helper processes may still write into the profile for a moment.
        if (profile_.isValid()) processEventsUntil([&] { return profile_.remove(); }, 5000);
    }

    // Starts the application and gives its window the keyboard focus.
    bool start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        process_.setProcessEnvironment(env);
        switch (app_) {
        case App::xterm:
            process_.start(QStringLiteral("xterm"),
                           {QStringLiteral("-u8"), QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
                            QStringLiteral("stty -icanon -echo -isig -ixon -iexten; echo $WINDOWID > '%1.id'; "
                                           "exec cat > '%1'")
                                .arg(file_)});
            break;
        case App::gtk:
            process_.start(QStringLiteral("/usr/bin/python3"),
                           {QStringLiteral(VOCALYNX_SOURCE_DIR "/tests/tools/gtk_text_receiver.py"), file_});
            break;
        case App::qt:
            process_.start(QStringLiteral(VOCALYNX_TEST_TOOLS_DIR "/text_receiver"), {file_});
            break;
        case App::chromium:
            if (!profile_.isValid()) return false;
            title_ = QStringLiteral("vocalynx-receiver-%1").arg(QString(server_.base()).section(QLatin1Char(':'), -1));
            server_.serve(QStringLiteral("/page"), QString::fromLatin1(kChromiumPage).arg(title_).toUtf8());
            process_.setStandardOutputFile(QProcess::nullDevice());
            process_.setStandardErrorFile(QProcess::nullDevice());
            process_.start(QStringLiteral("chromium"),
                           {QStringLiteral("--no-sandbox"), QStringLiteral("--no-first-run"),
                            QStringLiteral("--disable-gpu"), QStringLiteral("--disable-background-networking"),
                            QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                            QStringLiteral("--user-data-dir=") + profile_.path(),
                            QStringLiteral("--app=") + server_.base() + QStringLiteral("/page")});
            break;
        }
        if (!process_.waitForStarted(10000)) return false;
        const bool gotId = processEventsUntil(
            [&] {
                QByteArray id;
                if (app_ == App::chromium) {
                    window_ = windowNamed(title_);
                    return window_ != 0;
                }
                if (app_ == App::xterm) {
                    QFile idFile(file_ + QStringLiteral(".id"));
                    if (idFile.open(QIODevice::ReadOnly)) id = idFile.readAll();
                } else {
                    id = process_.readAllStandardOutput();
                    idLine_ += id;
                    id = idLine_;
                }
                if (!id.contains('\n')) return false;
                window_ = id.left(id.indexOf('\n')).trimmed().toULong();
                return window_ != 0;
            },
            20000);
        if (!gotId) return false;
        const bool viewable = processEventsUntil(
            [&] {
                XWindowAttributes attributes{};
                return XGetWindowAttributes(display_, window_, &attributes) && attributes.map_state == IsViewable;
            },
            10000);
        if (!viewable) return false;
        XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
        XSync(display_, False);
        if (app_ == App::chromium) {
            if (!processEventsUntil([&] { return server_.requests().contains(QStringLiteral("/ready")); }, 20000))
                return false;
            // A browser just started now and then loses the first key it is sent while it is still
            // setting up its keyboard input, even with the page focused. What is tested is what the
            // typing delivers to a running browser, so one space goes first, which the page clears;
            // it is sent again only when the page has not seen it after two seconds.
            const KeyCode space = XKeysymToKeycode(display_, XK_space);
            for (int attempt = 0; attempt < 10; ++attempt) {
                XTestFakeKeyEvent(display_, space, True, CurrentTime);
                XTestFakeKeyEvent(display_, space, False, CurrentTime);
                XSync(display_, False);
                if (processEventsUntil([&] { return server_.requests().contains(QStringLiteral("/warm")); }, 2000))
                    return true;
            }
            return false;
        }
        return true;
    }

    QString text() const {
        if (app_ == App::chromium) return chromiumText();
        QFile file(file_);
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll());
    }
    bool received(const QString& expected, int timeoutMs = 30000) {
        return processEventsUntil([&] { return text() == expected; }, timeoutMs);
    }

private:
    // The latest value the page sent; the requests may arrive out of order.
    QString chromiumText() const {
        long latest = 0;
        QString value;
        for (const QString& target : server_.requests()) {
            if (!target.startsWith(QStringLiteral("/value?"))) continue;
            const qsizetype amp = target.indexOf(QLatin1Char('&'));
            const long number = target.mid(7, amp - 7).toLong();
            if (amp < 0 || number <= latest) continue;
            latest = number;
            value = QUrl::fromPercentEncoding(target.mid(amp + 1).toLatin1());
        }
        return value;
    }
    // A top-level window by its title (there is no window manager to reparent it).
    unsigned long windowNamed(const QString& name) const {
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        unsigned long found = 0;
        if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) return 0;
        for (unsigned int i = 0; i < count && !found; ++i) {
            // Chromium names its window in UTF8_STRING, which XFetchName does not return.
            XTextProperty property{};
            if (XGetWMName(display_, children[i], &property) && property.value) {
                if (QString::fromUtf8(reinterpret_cast<const char*>(property.value), static_cast<qsizetype>(property.nitems)) ==
                    name)
                    found = children[i];
                XFree(property.value);
            }
        }
        if (children) XFree(children);
        return found;
    }

    App app_;
    Display* display_;
    QString file_;
    QProcess process_;
    QByteArray idLine_;
    unsigned long window_ = 0;
    LoopbackHttpServer server_;
    QTemporaryDir profile_;
    QString title_;
};

// A text with 220 distinct Chinese characters and full-width punctuation, then every other kind of
// text a dictation brings: mixed Chinese, English and digits, accented Latin, Cyrillic, emoji,
// every ASCII punctuation mark, a tab and line feeds.
QString everyKindOfText() {
    const QString punctuation = QStringLiteral("，。！？：；、“”（）《》");
    QString text;
    for (int i = 0; i < 220; ++i) {
        text += QChar(static_cast<char16_t>(0x4E00 + i * 37));
        if (i % 11 == 10) text += punctuation[(i / 11) % punctuation.size()];
    }
    text += QStringLiteral("\nVersion 2.0 发布于 2024-05-01，价格 ¥199！\n");
    text += QStringLiteral("Ça va? Élan, naïve façade, Ångström, Łódź, Straße, ñandú\n");
    text += QStringLiteral("Привет, мир! Съешь же ещё этих мягких французских булок.\n");
    text += QStringLiteral("🎉👍🏽😀\n");
    for (char16_t c = 0x20; c < 0x7f; ++c) text += QChar(c);
    text += QStringLiteral("\tend");
    return text;
}

class TypingIntoApplications : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(display, nullptr) << "the tests need the private X server (DISPLAY)";
        ASSERT_TRUE(live.ready());
        emptyCodes = unmappedCodes();
        ASSERT_FALSE(emptyCodes.empty());
    }
    void TearDown() override {
        setLayout(QStringLiteral("us"), 0);
        XkbLockModifiers(display, XkbUseCoreKbd, LockMask, 0);
        XSync(display, False);
        if (display) XCloseDisplay(display);
    }

    void setLayout(const QString& layouts, int group) {
        ASSERT_EQ(QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("-layout"), layouts}), 0);
        XkbLockGroup(display, XkbUseCoreKbd, static_cast<unsigned>(group));
        XSync(display, False);
        ASSERT_TRUE(processEventsUntil([&] { return state().group == group; }, 5000));
    }
    XkbStateRec state() {
        XkbStateRec rec{};
        XkbGetState(display, XkbUseCoreKbd, &rec);
        return rec;
    }
    std::vector<int> unmappedCodes() {
        std::vector<int> codes;
        int min = 0, max = 0, per = 0;
        XDisplayKeycodes(display, &min, &max);
        KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(min), max - min + 1, &per);
        for (int code = min; syms && code <= max; ++code) {
            bool empty = true;
            for (int i = 0; i < per; ++i) empty = empty && syms[(code - min) * per + i] == NoSymbol;
            if (empty) codes.push_back(code);
        }
        if (syms) XFree(syms);
        return codes;
    }
    static std::string codesText(const std::vector<int>& codes) {
        std::string text;
        for (int code : codes) text += std::to_string(code) + ' ';
        return text;
    }
    // Once typing is over, every key code bound for it is unmapped again.
    void expectMappingRestored() {
        EXPECT_TRUE(processEventsUntil([&] { return keys.idle(); }, 10000));
        EXPECT_TRUE(processEventsUntil([&] { return unmappedCodes() == emptyCodes; }, 5000))
            << "key codes left bound after typing";
    }

    // Runs the body with each application started and focused in turn, under the layout.
    void forEachApp(const char* layout, int group, const std::function<void(Receiver&)>& body) {
        setLayout(QString::fromLatin1(layout), group);
        for (App app : kApps) {
            SCOPED_TRACE(std::string(appName(app)) + " under " + layout);
            Receiver receiver(app, display, dir.path());
            ASSERT_TRUE(receiver.start());
            body(receiver);
        }
    }

    LiveRuntime rt;
    Display* display = XOpenDisplay(nullptr);
    LiveInjection live{rt};
    XTestKeyInjection& keys = live.keys;
    TextInjector& injector = live.injector;
    QTemporaryDir dir;
    std::vector<int> emptyCodes;
};

TEST_F(TypingIntoApplications, EveryKindOfTextArrivesExactlyUnderEveryLayout) {
    struct Layout {
        const char* layouts;
        int group;
    };
    const Layout layouts[] = {{"us", 0}, {"de", 0}, {"ru", 0}, {"us,ru", 1}};
    const QString text = everyKindOfText();
    for (const Layout& layout : layouts) {
        forEachApp(layout.layouts, layout.group, [&](Receiver& receiver) {
            injector.injectText(text, InjectionMode::keyboard);
            EXPECT_TRUE(receiver.received(text)) << "received: " << receiver.text().toStdString();
            expectMappingRestored();
            EXPECT_EQ(state().group, layout.group) << "the active layout group changed";
        });
    }
}

// Keys held on the keyboard come from its own device, as a user's would.
class PhysicalKeyboard {
public:
    explicit PhysicalKeyboard(Display* display) : display_(display) {
        int count = 0;
        XDeviceInfo* devices = XListInputDevices(display, &count);
        for (int i = 0; devices && i < count && !device_; ++i)
            if (devices[i].use == IsXExtensionKeyboard && !std::strstr(devices[i].name, "XTEST"))
                device_ = XOpenDevice(display, devices[i].id);
        if (devices) XFreeDeviceList(devices);
    }
    ~PhysicalKeyboard() {
        if (device_) XCloseDevice(display_, device_);
    }
    bool found() const { return device_ != nullptr; }
    void set(KeySym sym, bool down) {
        XTestFakeDeviceKeyEvent(display_, device_, XKeysymToKeycode(display_, sym), down, nullptr, 0, CurrentTime);
        XSync(display_, False);
    }

private:
    Display* display_;
    XDevice* device_ = nullptr;
};

TEST_F(TypingIntoApplications, KeysTheUserHoldsOrLocksNeitherChangeTheTextNorStayChanged) {
    struct Held {
        const char* name;
        KeySym key;  // held on the keyboard; NoSymbol: Caps Lock locked instead
        unsigned int mask;
    };
    const Held helds[] = {{"Shift", XK_Shift_L, ShiftMask},
                          {"Ctrl", XK_Control_L, ControlMask},
                          {"Super", XK_Super_L, Mod4Mask},
                          {"Caps Lock", NoSymbol, LockMask}};
    const QString text = QStringLiteral("hello World, 你好世界！ a+b=c; \"Ok\" ёжик 123");
    PhysicalKeyboard keyboard(display);
    ASSERT_TRUE(keyboard.found());
    for (const Held& held : helds) {
        SCOPED_TRACE(held.name);
        forEachApp("us", 0, [&](Receiver& receiver) {
            if (held.key != NoSymbol)
                keyboard.set(held.key, true);
            else
                XkbLockModifiers(display, XkbUseCoreKbd, LockMask, LockMask);
            XSync(display, False);
            ASSERT_TRUE(processEventsUntil([&] { return (state().mods & held.mask) != 0; }, 5000));
            injector.injectText(text, InjectionMode::keyboard);
            EXPECT_TRUE(receiver.received(text)) << "received: " << receiver.text().toStdString();
            expectMappingRestored();
            // Still held or locked afterwards, as the user left it...
            EXPECT_TRUE(processEventsUntil([&] { return (state().mods & held.mask) != 0; }, 5000));
            // ...and gone once the user lets go.
            if (held.key != NoSymbol)
                keyboard.set(held.key, false);
            else
                XkbLockModifiers(display, XkbUseCoreKbd, LockMask, 0);
            XSync(display, False);
            EXPECT_TRUE(processEventsUntil([&] { return state().mods == 0; }, 5000)) << "modifiers left: " << state().mods;
        });
    }
}

TEST_F(TypingIntoApplications, PasteReachesTerminalsAndFieldsUnderLatinAndCyrillicLayouts) {
    const QString text = QStringLiteral("Paste 粘贴 ✓ Привет, \"quoted\" $HOME");
    for (const char* layout : {"us", "ru"}) {
        forEachApp(layout, 0, [&](Receiver& receiver) {
            rt.log.clear();
            injector.injectText(text, InjectionMode::clipboard);
            EXPECT_TRUE(receiver.received(text)) << "received: " << receiver.text().toStdString();
            EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Cmd+V posted")));
        });
    }
}

TEST_F(TypingIntoApplications, TextOfALaterDictationFollowsTheTextStillBeingTyped) {
    Receiver receiver(App::qt, display, dir.path());
    ASSERT_TRUE(receiver.start());
    const QString first = everyKindOfText();
    const QString second = QStringLiteral(" 第二段文字 second part");
    injector.injectText(first, InjectionMode::keyboard);
    injector.injectText(second, InjectionMode::keyboard);
    EXPECT_TRUE(receiver.received(first + second)) << "received: " << receiver.text().toStdString();
    expectMappingRestored();
}

TEST_F(TypingIntoApplications, EndingTheProgramRightAfterTypingPutsTheKeyboardBack) {
    // A terminal answers no pings, so the spare codes stay bound for a while after the last press:
    // the signal arrives while they are.
    Receiver receiver(App::xterm, display, dir.path());
    ASSERT_TRUE(receiver.start());
    XkbLockModifiers(display, XkbUseCoreKbd, LockMask, LockMask);
    XSync(display, False);
    QString text;
    for (int i = 0; i < 60; ++i) text += QChar(static_cast<char16_t>(0x4E00 + i * 101));
    text += QStringLiteral("öß");
    QProcess probe;
    probe.start(QStringLiteral(VOCALYNX_TEST_TOOLS_DIR "/typing_probe"), {text});
    ASSERT_TRUE(probe.waitForStarted(10000));
    ASSERT_TRUE(processEventsUntil([&] { return probe.readAllStandardOutput().contains("typed"); }, 20000));
    ::kill(static_cast<pid_t>(probe.processId()), SIGTERM);
    ASSERT_TRUE(probe.waitForFinished(10000));
    EXPECT_TRUE(processEventsUntil([&] { return unmappedCodes() == emptyCodes; }, 5000))
        << "key codes left bound after the program ended: " << codesText(emptyCodes) << " before, "
        << codesText(unmappedCodes()) << " after";
    EXPECT_TRUE(processEventsUntil([&] { return (state().locked_mods & LockMask) != 0; }, 5000))
        << "Caps Lock left unlocked";
}

}  // namespace
}  // namespace vocalynx::test
