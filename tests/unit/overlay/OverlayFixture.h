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

class StagedEngine : public WhisperEngine {
public:
    using WhisperEngine::WhisperEngine;
    using WhisperEngine::setMicReady;
    using WhisperEngine::setPreviewText;
};

// Frame top 982, menu bar 38, housing from x 662 to 850: a 188 x 38 notch.
inline ScreenDescription notchedLaptopScreen() {
    ScreenDescription s;
    s.frame = QRectF(0, 0, 1512, 982);
    s.visibleFrame = QRectF(0, 0, 1512, 944);
    s.safeAreaTopInset = 32;
    s.auxiliaryTopLeftArea = QRectF(0, 950, 662, 32);
    s.auxiliaryTopRightArea = QRectF(850, 950, 662, 32);
    s.displayNumber = 1;
    s.builtInQuery = true;
    s.localizedName = "Built-in Retina Display";
    return s;
}

inline NotchMetrics notchedMetrics() { return NotchMetrics::of(notchedLaptopScreen()); }
inline NotchMetrics externalMetrics() { return NotchMetrics::of(plainScreen({0, 0, 1920, 1080}, 25, "HDMI-1")); }

struct EngineFixture {
    EngineFixture() { guiTestApp(); }
    TestRuntime rt;
    ConfigStore config{rt.runtime()};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    StagedEngine engine{{rt.runtime(), config, sounds}};
};

}  // namespace vocalynx::test
