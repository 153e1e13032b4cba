#pragma once
// A stand-in for the speech engine as the core components see it: the state is set by the test,
// calls are counted and the last completion is kept so the test can end the dictation.

#include "core/DictationControl.h"

namespace vocalynx::test {

class FakeDictationControl final : public DictationControl {
public:
    RecordingState state() const override { return currentState; }
    void startRecording(Completion onComplete) override {
        ++starts;
        completion = std::move(onComplete);
        currentState = RecordingState::recording;
    }
    void stopRecording() override {
        ++stops;
        currentState = RecordingState::transcribing;
    }
    // Like the engine: only a running recording is stopped.
    void handleStopShortcut() override {
        ++stopShortcuts;
        if (currentState == RecordingState::recording) stopRecording();
    }
    void recoverFromStalledState(RecordingState, const QString&) override { currentState = RecordingState::idle; }

    RecordingState currentState = RecordingState::idle;
    int starts = 0;
    int stops = 0;
    int stopShortcuts = 0;
    Completion completion;
};

}  // namespace vocalynx::test
