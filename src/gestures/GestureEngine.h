#pragma once
// Turns headset remote commands into gestures: play/pause presses are counted inside a 0.3 s
// window (one press `single`, two or more `double`), next track gives `double` and previous track
// `triple` at once. Each gesture reaches `onGesture` on the main queue. A command that comes less
// than 0.15 s after the one before of its kind (presses, or next and previous together) is dropped. The engine also owns the
// silent player keeper that holds the now-playing slot those commands depend on.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "core/Types.h"
#include "core/WeakHandle.h"
#include "engine/EngineCollaborators.h"
#include "gestures/SilentPlayerKeeper.h"
#include "platform/AudioPlayback.h"
#include "platform/RemoteCommands.h"
#include "platform/Runtime.h"

namespace vocalynx {

struct GestureEvent {
    GestureType type;
    WallTime timestamp;  // when the event was built, just before the callback runs
};

class GestureEngine : public SilentPlayerControl {
public:
    using GestureCallback = std::function<void(const GestureEvent&)>;

    struct Dependencies {
        Runtime& runtime;
        RemoteCommandCenter& remoteCommands;
        NowPlayingCenter& nowPlaying;
        AudioPlayback& audio;
    };

    explicit GestureEngine(Dependencies deps);
    ~GestureEngine() override;
    GestureEngine(const GestureEngine&) = delete;
    GestureEngine& operator=(const GestureEngine&) = delete;

    // Main thread, once: starts the silent player, installs the five command handlers, publishes
    // the now-playing information and starts the heartbeat.
    void startListening();

    // Replaces the callback; an event emitted while none is set is dropped. Main thread.
    void setOnGesture(GestureCallback callback) {
        assertOnSequence(runtime_.main, "GestureEngine::setOnGesture");
        onGesture_ = std::move(callback);
    }

    // ---- remote commands (main thread) ----
    void registerClick();
    void handleNextTrack();
    void handlePreviousTrack();
    // The rapid-event filter of play/pause presses, and the same filter, with a time of its own,
    // of next and previous track.
    bool isRapidEvent();
    bool isRapidTrackEvent();
    void clickTimerFired();
    void emitGesture(GestureType type);

    // ---- the silent player, as the speech engine sees it (main thread) ----
    void suspendSilentPlayer() override;
    void resumeSilentPlayer() override;
    SilentPlayerKeeper& silentPlayer() { return keeper_; }

    static constexpr double kPressWindow = 0.3;
    static constexpr double kRapidEventInterval = 0.15;

    // ---- read-only views ----
    int64_t clickCount() const {
        std::lock_guard lock(clickLock_);
        return clickCount_;
    }
    bool pressWindowOpen() const { return pendingTimer_.isValid() && !pendingTimer_.isCancelled(); }
    const std::optional<QString>& lastRemoteCommandName() const { return lastRemoteCommandName_; }

private:
    template <typename F>
    Task weakTask(F work) {
        return weak_.bind(std::move(work));
    }
    void addCommandHandler(RemoteCommand command, const char* name, void (GestureEngine::*operation)());
    void invalidatePendingTimer();
    bool isRapid(std::optional<MonoTime>& lastTime);

    Runtime& runtime_;
    RemoteCommandCenter& remoteCommands_;

    GestureCallback onGesture_;
    TaskHandle pendingTimer_;
    mutable std::mutex clickLock_;
    int64_t clickCount_ = 0;  // guarded by clickLock_
    std::optional<WallTime> lastRemoteCommandAt_;
    std::optional<QString> lastRemoteCommandName_;
    std::optional<MonoTime> lastEventTime_;       // none: the distant past
    std::optional<MonoTime> lastTrackEventTime_;  // none: the distant past
    SilentPlayerKeeper keeper_;
    // Timers and the command handlers reach the engine through it; invalidated first in the
    // destructor.
    WeakFactory<GestureEngine> weak_;
};

}  // namespace vocalynx
