#include "gestures/GestureEngine.h"

namespace vocalynx {

GestureEngine::GestureEngine(Dependencies deps)
    : runtime_(deps.runtime),
      remoteCommands_(deps.remoteCommands),
      keeper_({deps.runtime, deps.nowPlaying, deps.audio}),
      weak_(this, &deps.runtime.main, "GestureEngine") {}

GestureEngine::~GestureEngine() {
    weak_.invalidate();
    pendingTimer_.cancel();
}

void GestureEngine::startListening() {
    assertOnSequence(runtime_.main, "GestureEngine::startListening");
    keeper_.makeSilentPlayer();
    addCommandHandler(RemoteCommand::togglePlayPause, "togglePlayPause", &GestureEngine::registerClick);
    addCommandHandler(RemoteCommand::nextTrack, "nextTrack", &GestureEngine::handleNextTrack);
    addCommandHandler(RemoteCommand::previousTrack, "previousTrack", &GestureEngine::handlePreviousTrack);
    addCommandHandler(RemoteCommand::play, "play", &GestureEngine::registerClick);
    addCommandHandler(RemoteCommand::pause, "pause", &GestureEngine::registerClick);
    keeper_.publishNowPlayingInfo();
    keeper_.startHeartbeat();
}

void GestureEngine::addCommandHandler(RemoteCommand command, const char* name, void (GestureEngine::*operation)()) {
    remoteCommands_.addHandler(command, weakTask([name = QString::fromLatin1(name), operation](GestureEngine& e) {
        e.lastRemoteCommandAt_ = e.runtime_.clock.wallNow();
        e.lastRemoteCommandName_ = name;
        (e.*operation)();
    }));
}

bool GestureEngine::isRapidEvent() { return isRapid(lastEventTime_); }

// Next and previous are filtered too, or any bus client could send a burst that becomes as many
// Return and Escape keys. They keep a time of their own, so that a track command never drops a
// press nor a press a track command.
bool GestureEngine::isRapidTrackEvent() { return isRapid(lastTrackEventTime_); }

bool GestureEngine::isRapid(std::optional<MonoTime>& lastTime) {
    const MonoTime now = runtime_.clock.now();
    const std::optional<MonoTime> last = lastTime;
    lastTime = now;
    if (last && secondsBetween(*last, now) < kRapidEventInterval) {
        runtime_.log.line(QStringLiteral("[Vocalynx] Ignoring rapid event (likely AirPods removal)"));
        return true;
    }
    return false;
}

void GestureEngine::registerClick() {
    assertOnSequence(runtime_.main, "GestureEngine::registerClick");
    if (isRapidEvent()) return;
    {
        std::lock_guard lock(clickLock_);
        ++clickCount_;
    }
    // Each press restarts the window, so it closes 0.3 s after the last press.
    pendingTimer_.cancel();
    pendingTimer_ = runtime_.main.postAfter(seconds(kPressWindow), weakTask([](GestureEngine& e) { e.clickTimerFired(); }));
}

void GestureEngine::clickTimerFired() {
    assertOnSequence(runtime_.main, "GestureEngine::clickTimerFired");
    pendingTimer_ = TaskHandle();
    int64_t count;
    {
        std::lock_guard lock(clickLock_);
        count = clickCount_;
        clickCount_ = 0;
    }
    if (count < 1) return;
    const GestureType type = count == 1 ? GestureType::single : GestureType::double_;
    runtime_.main.post(weakTask([type](GestureEngine& e) { e.emitGesture(type); }));
}

void GestureEngine::handleNextTrack() {
    assertOnSequence(runtime_.main, "GestureEngine::handleNextTrack");
    if (isRapidTrackEvent()) return;
    invalidatePendingTimer();
    {
        std::lock_guard lock(clickLock_);
        clickCount_ = 0;
    }
    runtime_.main.post(weakTask([](GestureEngine& e) { e.emitGesture(GestureType::double_); }));
}

void GestureEngine::handlePreviousTrack() {
    assertOnSequence(runtime_.main, "GestureEngine::handlePreviousTrack");
    if (isRapidTrackEvent()) return;
    invalidatePendingTimer();
    {
        std::lock_guard lock(clickLock_);
        clickCount_ = 0;
    }
    runtime_.main.post(weakTask([](GestureEngine& e) { e.emitGesture(GestureType::triple); }));
}

void GestureEngine::emitGesture(GestureType type) {
    assertOnSequence(runtime_.main, "GestureEngine::emitGesture");
    if (!onGesture_) return;
    onGesture_(GestureEvent{type, runtime_.clock.wallNow()});
}

void GestureEngine::invalidatePendingTimer() {
    pendingTimer_.cancel();
    pendingTimer_ = TaskHandle();
}

// A press window open at a suspend or resume is closed without resetting the count, so the
// count is carried into the next window.
void GestureEngine::suspendSilentPlayer() {
    assertOnSequence(runtime_.main, "GestureEngine::suspendSilentPlayer");
    invalidatePendingTimer();
    keeper_.suspendSilentPlayer();
}

void GestureEngine::resumeSilentPlayer() {
    assertOnSequence(runtime_.main, "GestureEngine::resumeSilentPlayer");
    invalidatePendingTimer();
    keeper_.resumeSilentPlayer();
}

}  // namespace vocalynx
