#pragma once
// The media remote commands a headset or the desktop's media keys send to the player that holds
// the session's now-playing slot, and the now-playing information that player publishes.

#include <QString>
#include <cstdint>
#include <functional>

namespace vocalynx {

enum class RemoteCommand { togglePlayPause, nextTrack, previousTrack, play, pause };

// Delivers remote commands. Handlers run on the main thread; a command always counts as handled.
class RemoteCommandCenter {
public:
    using Handler = std::function<void()>;
    virtual ~RemoteCommandCenter() = default;
    // Main thread. Handlers are never removed; several may be added for one command.
    virtual void addHandler(RemoteCommand command, Handler handler) = 0;
};

// What the now-playing centre shows for the current item.
struct NowPlayingInfo {
    unsigned mediaType = 1;              // 1: audio
    QString title;
    int64_t playbackDurationSeconds = 0;
    int64_t elapsedPlaybackSeconds = 0;
    double playbackRate = 1.0;
    bool operator==(const NowPlayingInfo&) const = default;
};

enum class NowPlayingPlaybackState { playing = 1, paused = 2 };

// The session's now-playing centre. Both setters may be called from any thread; each publish is
// announced to the session in the order it was made (a description equal to the one last
// announced may be left unannounced).
class NowPlayingCenter {
public:
    virtual ~NowPlayingCenter() = default;
    virtual void setNowPlayingInfo(const NowPlayingInfo& info) = 0;
    virtual void setPlaybackState(NowPlayingPlaybackState state) = 0;
};

}  // namespace vocalynx
