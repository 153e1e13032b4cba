#pragma once
// Shared pieces of the overlay tests: a runtime on the virtual clock, a speech engine whose
// published values the test sets, and the screens of a notched laptop and an external monitor.

#include "FakeScreens.h"
#include "FakeSoundOutput.h"
#include "GuiTestApp.h"
#include "TestRuntime.h"
#include "core/ConfigStore.h"
#include "core/SoundFeedback.h"
#include "engine/WhisperEngine.h"
#include "overlay/NotchGeometry.h"

namespace vocalynx::test {

// An engine whose published values are staged one at a time, as the screenshot scene stages them.
class StagedEngine : public WhisperEngine {
public:
    using WhisperEngine::WhisperEngine;
    void setState(RecordingState state, const QString&) { stagePublishedValues(state, previewText(), micReady()); }
    void setMicReady(bool ready) { stagePublishedValues(state(), previewText(), ready); }
    void setPreviewText(const QString& text) { stagePublishedValues(state(), text, micReady()); }
};

inline NotchMetrics notchedMetrics() { return NotchMetrics::of(notchedLaptopScreen()); }
inline NotchMetrics externalMetrics() {
    return NotchMetrics::of(plainScreen({0, 0, 1920, 1080}, 25, QStringLiteral("HDMI-1")));
}

struct EngineFixture {
    EngineFixture() { guiTestApp(); }
    TestRuntime rt;
    ConfigStore config{rt.runtime()};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    StagedEngine engine{{rt.runtime(), config, sounds}};
};

}  // namespace vocalynx::test
