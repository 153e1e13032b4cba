// Types its first argument into the focused window with the application's key injection and with
// the application's fatal-signal handlers installed, prints "typed" once the last key went out and
// then waits, so that a test can end it by a signal right after it typed.

#include <QCoreApplication>
#include <cstdio>

#include "app/SignalHandlers.h"
#include "platform/linux/X11Session.h"
#include "platform/linux/XTestKeyInjection.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: typing_probe TEXT\n");
        return 2;
    }
    vocalynx::installFatalSignalHandlers();
    vocalynx::X11Session session;
    vocalynx::XTestKeyInjection keys{session};
    if (!keys.canInjectKeys()) {
        std::fprintf(stderr, "no X server with XTest\n");
        return 2;
    }
    keys.typeText(QString::fromUtf8(argv[1]), [](bool complete) {
        std::printf(complete ? "typed\n" : "incomplete\n");
        std::fflush(stdout);
    });
    return app.exec();
}
