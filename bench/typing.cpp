// Types 1,000 characters with 300 distinct Chinese characters into a Qt text field that runs in a
// process of its own, and prints the time and how many characters arrived right, beside
// `xdotool type` on the same text into the same kind of window. Run it under an X server with XTest
// (scripts/test-services.sh starts one) with the test tools built.

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "LiveInjection.h"

#include <X11/Xlib.h>

using namespace vocalynx;

namespace {

QString benchmarkText() {
    std::vector<QChar> distinct;
    for (int i = 0; i < 300; ++i) distinct.emplace_back(static_cast<char16_t>(0x4E00 + i * 53));
    QString text;
    for (QChar c : distinct) text += c;
    uint32_t seed = 12345;
    while (text.size() < 1000) {
        seed = seed * 1103515245u + 12345u;
        const uint32_t pick = (seed >> 8) % 320;
        text += pick < 300 ? distinct[pick] : (pick % 2 ? QChar(u'，') : QChar(u'。'));
    }
    return text;
}

// Characters that arrived right: the longest common subsequence of sent and received text.
int charactersRight(const QString& sent, const QString& received) {
    std::vector<int> previous(static_cast<size_t>(received.size()) + 1, 0), row(previous.size(), 0);
    for (QChar s : sent) {
        for (qsizetype j = 1; j <= received.size(); ++j) {
            const auto u = static_cast<size_t>(j);
            row[u] = s == received[j - 1] ? previous[u - 1] + 1 : std::max(previous[u], row[u - 1]);
        }
        std::swap(previous, row);
    }
    return previous.back();
}

class Receiver {
public:
    Receiver(Display* display, const QString& file) : display_(display), file_(file) {}
    ~Receiver() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    bool start() {
        QFile::remove(file_);
        process_.start(QStringLiteral(VOCALYNX_TEST_TOOLS_DIR "/text_receiver"), {file_});
        if (!process_.waitForStarted(10000)) return false;
        QByteArray out;
        unsigned long window = 0;
        if (!test::processEventsUntil([&] {
                out += process_.readAllStandardOutput();
                if (!out.contains('\n')) return false;
                window = out.left(out.indexOf('\n')).trimmed().toULong();
                return true;
            }))
            return false;
        if (!test::processEventsUntil([&] {
                XWindowAttributes attributes{};
                return XGetWindowAttributes(display_, window, &attributes) && attributes.map_state == IsViewable;
            }))
            return false;
        XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
        XSync(display_, False);
        return true;
    }
    QString text() const {
        QFile file(file_);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // Waits until the text stops changing for half a second (or equals the expected text).
    QString settled(const QString& expected, int timeoutMs) {
        QString last = text();
        QElapsedTimer quiet;
        quiet.start();
        test::processEventsUntil(
            [&] {
                const QString now = text();
                if (now == expected) return true;
                if (now != last) {
                    last = now;
                    quiet.restart();
                }
                return quiet.elapsed() > 500 && !now.isEmpty();
            },
            timeoutMs);
        return text();
    }

private:
    Display* display_;
    QString file_;
    QProcess process_;
};

void report(const char* who, double ms, int right, qsizetype total) {
    std::printf("%-22s %8.1f ms  %4d of %lld characters right\n", who, ms, right, static_cast<long long>(total));
}

}  // namespace

int main() {
    test::guiApplication();
    test::LiveRuntime rt;
    test::LiveInjection live{rt};
    Display* display = XOpenDisplay(nullptr);
    if (!live.ready() || !display) return 1;
    TextInjector& injector = live.injector;
    XTestKeyInjection& keys = live.keys;
    QTemporaryDir dir;
    const QString text = benchmarkText();
    std::printf("text: %lld characters, 300 distinct Chinese characters, into a Qt text field in another process\n",
                static_cast<long long>(text.size()));

    {
        Receiver receiver(display, dir.path() + QStringLiteral("/ours"));
        if (!receiver.start()) return 1;
        // The longest stretch the main thread spends away from its event loop while typing.
        QElapsedTimer sinceTick;
        qint64 longestStretchNs = 0;
        QTimer ticker;
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longestStretchNs = std::max(longestStretchNs, sinceTick.nsecsElapsed());
            sinceTick.restart();
        });
        QElapsedTimer timer;
        timer.start();
        sinceTick.start();
        ticker.start();
        injector.injectText(text, InjectionMode::keyboard);
        test::processEventsUntil([&] { return receiver.text() == text; }, 60000);
        const double ms = timer.nsecsElapsed() / 1e6;
        ticker.stop();
        report("keyboard mode", ms, charactersRight(text, receiver.settled(text, 5000)), text.size());
        std::printf("  longest main-thread stretch while typing: %.1f ms (watchdog limit 50 ms)\n", longestStretchNs / 1e6);
        test::processEventsUntil([&] { return keys.idle(); }, 10000);
    }
    {
        Receiver receiver(display, dir.path() + QStringLiteral("/xdotool"));
        if (!receiver.start()) return 1;
        QElapsedTimer timer;
        timer.start();
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--"), text});
        if (!xdotool.waitForStarted(10000)) {
            std::printf("xdotool type: not available\n");
            return 0;
        }
        test::processEventsUntil([&] { return xdotool.state() == QProcess::NotRunning; }, 120000);
        const QString received = receiver.settled(text, 10000);
        const double ms = timer.nsecsElapsed() / 1e6;
        report("xdotool type", ms, charactersRight(text, received), text.size());
    }
    XCloseDisplay(display);
    return 0;
}
