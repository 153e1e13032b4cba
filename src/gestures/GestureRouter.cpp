#include "gestures/GestureRouter.h"

#include "platform/SequenceCheck.h"

namespace vocalynx {

void runGestureEntry(const GestureEvent& event, GestureRouter& router, const DictationControl& engine,
                     Runtime& runtime) {
    assertOnSequence(runtime.main, "runGestureEntry");
    runtime.log.line(QStringLiteral("[Vocalynx][GestureEntry] ") + runtime.timestampNow() + QStringLiteral(" event=") +
                     gestureTypeName(event.type) + QStringLiteral(" state=") + recordingStateName(engine.state()));
    router.executor.execute(router.config.action(event.type));
}

}  // namespace vocalynx
