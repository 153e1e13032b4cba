#pragma once
class QApplication;

namespace vocalynx {

// Picks the Qt platform before the application object exists: the X11 platform when a display
// is there (our key injection and hot key need X11), and the offscreen platform when there is no
// display at all, so the program still starts and its other parts keep working.
void prepareDisplayPlatform();

// Creates the shared components, runs the launch road once the event loop runs, and the
// shutdown step when the application quits. Returns the event loop's exit code.
int runApplication(QApplication& app);

}  // namespace vocalynx
