#pragma once
#include <QElapsedTimer>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/KeyEventInjection.h"
#include "platform/linux/X11Session.h"

class QSocketNotifier;
class QTimer;
struct _XkbDesc;

namespace vocalynx {

// Synthetic key events through XTest, typed in order from a queue on the main thread in short
// slices, so that a long text never holds the main thread and a later text or key follows an
// earlier one.
//
// A character is typed with the key and level that yield it in the layout group that is active
// when typing starts (found by the character the keysym stands for, so the layout's own keysyms,
// Cyrillic or Latin-2 ones for example, are used). A character the group lacks is bound to a spare
// (unmapped) key code, two per code (plain and shifted). Applications re-read the key mapping on
// their own time after a change, so a spare code pressed since the last confirmation is never bound
// again: the confirmation is a _NET_WM_PING round trip through the focused application (it answers
// after it has handled every key before the ping), or, for an application that does not answer
// pings, a pause of unconfirmedReuseMs after the code's last press.
//
// Modifier keys the user holds are released before typing (and pressed again after, when they are
// still held), a locked Caps Lock or a latched modifier is cleared before typing and Caps Lock is
// locked again after, so that the keys the application receives carry no modifier but ours. Spare
// codes are put back to unmapped once the application has confirmed the last press, when this
// object goes away, and by restoreOnSignal() when the process is ended by a signal.
class XTestKeyInjection final : public KeyEventInjection {
public:
    explicit XTestKeyInjection(X11Session& session);
    ~XTestKeyInjection() override;

    bool canInjectKeys() override;
    bool canCreateEvents() override;
    bool postKey(uint16_t keyCode, uint64_t flags) override;
    // Shift+Insert: text fields of every toolkit paste the clipboard on it, and terminals, which
    // take Ctrl+V as a literal control character, paste the primary selection (the clipboard
    // adapter sets both). Insert is the same key in every layout.
    bool postPasteChord() override;
    void typeText(const QString& text, std::function<void(bool)> done) override;

    // Nothing queued, no spare code bound, the user's keys as they were.
    bool idle() const;
    int boundSpareCount() const;

    // Puts the spare key codes back to unmapped and Caps Lock back to locked when typing unlocked
    // it, by writing prepared requests on a connection of their own. Async-signal-safe: called by
    // the fatal-signal handler.
    static void restoreOnSignal();

    // How long a spare code stays untouched after its last press when the application cannot be
    // asked whether it has read the press.
    static constexpr int unconfirmedReuseMs = 200;
    // The longest wait for an application's ping answer before typing goes on regardless.
    static constexpr int pingTimeoutMs = 2000;
    // The longest stretch of work on the main thread before typing yields to the event loop.
    static constexpr int sliceMs = 8;
    // Ping round trips through the application after spare codes are bound, before they are pressed.
    static constexpr int mappingRoundTrips = 2;
    // How far ahead in the text the characters of a round of spare codes are gathered.
    static constexpr size_t lookAhead = 4096;

private:
    struct Key {
        int keycode = 0;
        unsigned int mods = 0;  // X modifier mask pressed with it
        bool spare = false;
    };
    struct Spare {
        int keycode = 0;
        unsigned long syms[2] = {0, 0};  // plain and shifted; 0: unbound
        qint64 lastPress = -1;           // on clock_; -1: not pressed since the last confirmation
    };
    struct Job {
        std::u32string text;
        int keycode = 0;  // a chord instead of text when set
        unsigned int mods = 0;
        std::vector<int> chordModifiers;
        std::function<void(bool)> done;
        size_t pos = 0;
        bool ok = true;
    };
    enum class Bind { bound, wait, impossible };
    bool queueChord(unsigned long keysym, const std::vector<unsigned long>& modifiers);

    void pump();
    void schedule(int ms);
    void openSession();
    void closeSession();
    void readLayout();
    std::optional<Key> keyFor(char32_t cp) const;
    Bind bindRound(const Job& job);
    // Binds each spare code to its syms (none: unmapped).
    void writeSpares(std::vector<Spare*> changed);
    void tap(const Key& key);
    bool settled(const Spare& spare) const;
    void sendPing();
    void waitForReuse();
    void waitForMapping();
    void confirmed();
    void onTimer();
    void readEvents();
    unsigned long findPingTarget();
    void restoreSpares();
    void publishEmergency(bool relockCaps);
    std::vector<int> physicallyHeld(const std::vector<int>& keycodes);

    X11Session& session_;
    Display* display_ = nullptr;  // our own connection: typing, pings and their answers
    QSocketNotifier* notifier_ = nullptr;
    std::unique_ptr<QTimer> timer_;
    QElapsedTimer clock_;

    std::deque<Job> jobs_;
    bool sessionOpen_ = false;
    bool waiting_ = false;           // for a ping answer or a pause
    bool pinging_ = false;           // the wait is for a ping answer
    bool restorePending_ = false;    // spare codes to put back once the last press is confirmed
    unsigned long pingTarget_ = 0;   // the focused client window that answers pings, 0: none
    long pingToken_ = 0;
    int pingsLeft_ = 0;              // answers still awaited in this wait
    unsigned long wmProtocols_ = 0;
    unsigned long netWmPing_ = 0;

    _XkbDesc* xkb_ = nullptr;
    int group_ = 0;
    unsigned int keptMods_ = 0;  // locks left in place while typing (Num Lock)
    int shiftKey_ = 0;
    unsigned int shiftMask_ = 0;
    int level3Key_ = 0;
    unsigned int level3Mask_ = 0;
    std::unordered_map<char32_t, Key> layoutKeys_;

    std::vector<Spare> spares_;
    std::vector<int> releasedKeys_;  // the user's modifier keys released for this session
    std::vector<int> heldByUs_;      // keys pressed again for the user after a session
    bool unlockedCaps_ = false;
};

}  // namespace vocalynx
