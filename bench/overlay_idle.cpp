// Measures what the notch panel costs while nothing happens: the panel is shown in its idle state,
// the 0.05 s hover poll runs, the cat's idle loop ticks, and the pointer rests away from the panel.
// The figure is the process's CPU time over the measured wall time, in percent of one core.
//
// Usage: bench_overlay_idle [seconds]   (default 10). Runs on $DISPLAY when set (an X server
// such as Xvfb), else on the offscreen platform.

#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <time.h>

#include "FakeSoundOutput.h"
#include "app/Application.h"
#include "core/ConfigStore.h"
#include "core/SoundFeedback.h"
#include "engine/WhisperEngine.h"
#include "overlay/OverlayPanelController.h"
#include "platform/linux/QtMainQueue.h"
#include "platform/linux/QtScreens.h"
#include "platform/linux/X11PointerLocation.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/ThreadQueues.h"

using namespace vocalynx;

namespace {

double processSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double wallSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

class QuietLogger final : public Logger {
public:
    void line(const QString&) override {}
};

// The real pointer, counted: as the application reads it, or through QCursor with
// VOCALYNX_BENCH_PARTS=qcursor.
class CountingPointer final : public PointerLocation {
public:
    QPointF location() const override {
        ++reads;
        if (fixed) return QPointF(-1000, -1000);
        return viaQCursor ? qcursor.location() : real.location();
    }
    bool fixed = qgetenv("VOCALYNX_BENCH_PARTS").contains("nopointer");
    bool viaQCursor = qgetenv("VOCALYNX_BENCH_PARTS").contains("qcursor");
    X11PointerLocation real;
    QtPointerLocation qcursor;
    mutable long reads = 0;
};

}  // namespace

int main(int argc, char** argv) {
    prepareDisplayPlatform();  // as the application prepares the toolkit
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    QApplication app(argc, argv);
    QTemporaryDir dir;

    SystemClock clock;
    QtMainQueue main;
    ThreadQueueFactory queues;
    NotificationCenter notifications;
    QuietLogger log;
    Diagnostics diagnostics{log};
    const InfoDictionary info = InfoDictionary::fromBuild();
    const Paths paths = Paths::under(dir.path());
    Runtime runtime{clock, main, queues, notifications, log, diagnostics, info, paths};
    ConfigStore config{runtime};
    test::FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    WhisperEngine engine{{runtime, config, sounds}};
    QtScreenList screens;
    CountingPointer pointer;

    // The pointer rests in the bottom-right corner, far from the panel.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        QCursor::setPos(screen, screen->geometry().bottomRight() - QPoint(5, 5));

    // Parts can be left out to see what each costs: VOCALYNX_BENCH_PARTS=nocat hides the cat;
    // VOCALYNX_BENCH_PARTS=baseline shows no panel at all and only reads the pointer twenty times
    // a second from a plain timer, the least any program polling the pointer pays.
    const QByteArray parts = qgetenv("VOCALYNX_BENCH_PARTS");
    std::unique_ptr<OverlayPanelController> panel;
    QTimer baselinePoll;
    if (parts.contains("baseline")) {
        baselinePoll.setInterval(50);
        QObject::connect(&baselinePoll, &QTimer::timeout, [&] { (void)pointer.location(); });
        baselinePoll.start();
    } else {
        panel = std::make_unique<OverlayPanelController>(
            OverlayPanelController::Dependencies{runtime, config, engine, screens, pointer, nullptr, nullptr, {}}, std::nullopt);
        if (parts.contains("nocat")) panel->view()->cat().hide();
    }

    // Settle for a second (first paint, caches), then measure.
    double cpuStart = 0, wallStart = 0;
    long readsStart = 0;
    QTimer::singleShot(1000, [&] {
        cpuStart = processSeconds();
        wallStart = wallSeconds();
        readsStart = pointer.reads;
    });
    QTimer::singleShot(1000 + static_cast<int>(seconds * 1000), [&] { app.quit(); });
    app.exec();

    const double cpu = processSeconds() - cpuStart;
    const double wall = wallSeconds() - wallStart;
    const double checksPerSecond = double(pointer.reads - readsStart) / wall;
    std::printf(
        "overlay idle%s on %s: %.3f%% of one core over %.1f s (%.1f ms CPU), %.1f hover checks per second, "
        "hovering=%s\n",
        parts.isEmpty() ? "" : qPrintable(QStringLiteral(" (") + QString::fromLatin1(parts) + QStringLiteral(")")),
        qPrintable(QGuiApplication::platformName()), 100.0 * cpu / wall, wall, cpu * 1000, checksPerSecond,
        panel && panel->panelState().isHovering() ? "true" : "false");
    return 0;
}
