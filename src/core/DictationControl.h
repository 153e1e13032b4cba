#pragma once
#include <QString>
#include <functional>

#include "core/Types.h"

namespace vocalynx {

// What the core components (actions, hot key, watchdog) need from the speech engine.
class DictationControl {
public:
    using Completion = std::function<void(const QString& finalText)>;
    virtual ~DictationControl() = default;
    // Readable from any thread.
    virtual RecordingState state() const = 0;
    // Main thread.
    virtual void startRecording(Completion onComplete) = 0;
    virtual void stopRecording() = 0;
    virtual void handleStopShortcut() = 0;
    virtual void recoverFromStalledState(RecordingState state, const QString& reason) = 0;
};

}  // namespace vocalynx
