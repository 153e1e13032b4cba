#pragma once
// The real typing stack on the X server of $DISPLAY: XTest key injection, the clipboard and the
// text injector on top.

#include <cstdio>

#include "LiveRuntime.h"
#include "core/TextInjector.h"
#include "platform/linux/QtClipboard.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/XTestKeyInjection.h"

namespace vocalynx::test {

struct LiveInjection {
    explicit LiveInjection(LiveRuntime& rt) : injector{rt, keys, clipboard} {}
    // False, with a line on standard error, without an X server that has XTest.
    bool ready() {
        if (keys.canInjectKeys()) return true;
        std::fprintf(stderr, "needs an X server with XTest (DISPLAY)\n");
        return false;
    }

    X11Session session;
    XTestKeyInjection keys{session};
    QtClipboard clipboard;
    TextInjector injector;
};

}  // namespace vocalynx::test
