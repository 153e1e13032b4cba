#pragma once
// What the speech engine asks of the gesture and media subsystems around a recording.

namespace vocalynx {

// The silent looping player that keeps the headset's remote commands coming.
class SilentPlayerControl {
public:
    virtual ~SilentPlayerControl() = default;
    virtual void suspendSilentPlayer() = 0;
    virtual void resumeSilentPlayer() = 0;
};

// The music player that is paused for the length of a recording.
class MediaPauseControl {
public:
    virtual ~MediaPauseControl() = default;
    virtual void pauseForRecording() = 0;
    virtual void resumeAfterRecording() = 0;
};

}  // namespace vocalynx
