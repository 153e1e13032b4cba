// Stop shortcut to text: how long after the stop shortcut a dictation's text is complete in the
// focused window, with the whole application, the stand-in speech program and the private sound
// server. Each round starts a dictation with a play/pause press on our MPRIS player, lets it run
// a while (1.5 s by default) with a tone on the test microphone, presses the stop shortcut (Super+semicolon) through
// XTest, and times, from that press: the drain's end (the application's log line), the first
// character in the focused text field, and the whole text.
//
// Run it under the private services (source scripts/test-services.sh; start_test_services):
//   build/tests/bench/bench_stop_to_text [rounds=5] [seconds of dictation=1.5] [path to vocalynx]
// (A dictation of 5 s or longer makes the silent player's resume start two rebuilds.)

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "AppProcess.h"
#include "LiveRuntime.h"
#include "core/PreferencesDomain.h"
#include "RecordingLogger.h"
#include "engine/ModelCheck.h"
#include "platform/InfoDictionary.h"

// Last: Xlib's macros clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace vocalynx;

namespace {

const QString kStandIn = QStringLiteral(VOCALYNX_TEST_TOOLS_DIR "/coli_standin");

bool prepareHome(const QString& home, const QString& script) {
    if (!QDir().mkpath(home + QStringLiteral("/.local/bin"))) return false;
    if (!QFile::link(kStandIn, home + QStringLiteral("/.local/bin/coli"))) return false;
    const QString model = speechModelPath(home);
    QDir().mkpath(QFileInfo(model).path());
    QFile f(model);
    if (!f.open(QIODevice::WriteOnly) || !f.resize(200'000'000)) return false;  // sparse
    QFile s(script);
    if (!s.open(QIODevice::WriteOnly)) return false;
    // The hypothesis changes as audio arrives, so the preview never settles into an automatic
    // stop, and stays short enough for the log line to show it whole.
    for (int i = 1; i <= 2000; ++i) s.write(QStringLiteral("this is dictation number %1\n").arg(i).toUtf8());
    return true;
}

// Super+semicolon through XTest.
void pressStopShortcut(Display* display) {
    const KeyCode super = XKeysymToKeycode(display, XK_Super_L);
    const KeyCode semicolon = XKeysymToKeycode(display, XK_semicolon);
    XTestFakeKeyEvent(display, super, True, 0);
    XTestFakeKeyEvent(display, semicolon, True, 0);
    XTestFakeKeyEvent(display, semicolon, False, 0);
    XTestFakeKeyEvent(display, super, False, 0);
    XFlush(display);
}

double median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The application's output, line by line, each with the time it arrived.
class OutputReader {
public:
    explicit OutputReader(test::ForkedProcess& process, QElapsedTimer& clock)
        : process_(process), clock_(clock),
          notifier_(process.standardOutputDescriptor(), QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { read(); });
    }
    // The arrival time of the first line at or after from that contains part.
    std::optional<double> find(const QString& part, size_t from, size_t* index = nullptr) {
        read();
        for (size_t i = from; i < lines_.size(); ++i)
            if (lines_[i].second.contains(part)) {
                if (index) *index = i;
                return lines_[i].first;
            }
        return std::nullopt;
    }
    QString line(size_t i) const { return lines_[i].second; }
    size_t size() const { return lines_.size(); }

private:
    void read() {
        pending_ += process_.readAll();
        if (process_.standardOutputDescriptor() < 0) notifier_.setEnabled(false);  // at its end
        qsizetype nl;
        while ((nl = pending_.indexOf('\n')) >= 0) {
            lines_.emplace_back(clock_.nsecsElapsed() / 1e6, QString::fromUtf8(pending_.left(nl)));
            if (qEnvironmentVariableIsSet("VOCALYNX_BENCH_ECHO")) std::printf("app: %s\n", qPrintable(lines_.back().second));
            pending_.remove(0, nl + 1);
        }
    }
    test::ForkedProcess& process_;
    QElapsedTimer& clock_;
    QSocketNotifier notifier_;
    QByteArray pending_;
    std::vector<std::pair<double, QString>> lines_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication& qapp = test::guiApplication();
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const double dictationSeconds = argc > 2 ? std::max(0.5, atof(argv[2])) : 1.5;
    const QString binary = argc > 3 ? QString::fromLocal8Bit(argv[3])
                                    : QCoreApplication::applicationDirPath() + QStringLiteral("/../src/vocalynx");
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "needs an X server with XTest (DISPLAY)\n");
        return 1;
    }

    test::AppProcess app;
    const QString script = app.home() + QStringLiteral("/script.txt");
    if (!prepareHome(app.home(), script)) {
        std::fprintf(stderr, "cannot prepare the home folder\n");
        return 1;
    }
    app.environment().insert(QStringLiteral("TMPDIR"), app.home());
    app.environment().insert(QStringLiteral("COLI_STANDIN_SCRIPT"), script);
    app.environment().insert(QStringLiteral("COLI_STANDIN_BYTES_PER_LINE"), QStringLiteral("3200"));
    app.finishOnboarding();
    {
        test::RecordingLogger quiet;
        StandardDefaults(app.home() + QStringLiteral("/.config/vocalynx"), quiet)
            .setLastSeenWhatsNew(InfoDictionary::fromBuild().string(InfoDictionary::kShortVersion));
    }

    // A steady tone on the test microphone for the whole run.
    QProcess tone;
    tone.start(QStringLiteral("sox"),
               {QStringLiteral("-n"), QStringLiteral("-t"), QStringLiteral("pulseaudio"),
                QStringLiteral("vocalynx_sink"), QStringLiteral("synth"), QStringLiteral("600"), QStringLiteral("sine"),
                QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.3")});

    QLineEdit field;
    field.setMaxLength(100000);
    field.resize(600, 40);
    field.show();
    field.activateWindow();
    field.setFocus();
    if (!test::processEventsUntil([&] { return field.hasFocus() && field.isActiveWindow(); })) {
        std::fprintf(stderr, "the text field did not get the focus\n");
        return 1;
    }

    app.start(binary);
    if (!app.waitForLine(QStringLiteral("[Vocalynx] Persistent coli launched"), 20000) ||
        !app.waitForLine(QStringLiteral("[Vocalynx] Silent AVAudioPlayer running: "), 20000)) {
        std::fprintf(stderr, "the application did not start:\n%s\n", qPrintable(app.output()));
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    OutputReader out(app.process(), clock);
    test::processEventsUntil([] { return false; }, 3000);  // let the launch settle

    std::vector<double> drains, firsts, completes, drainToFirst, resumes;
    for (int r = 0; r < rounds; ++r) {
        field.clear();
        const size_t from = out.size();
        QProcess::execute(QStringLiteral("playerctl"),
                          {QStringLiteral("-p"), QStringLiteral("vocalynx"), QStringLiteral("play-pause")});
        if (!test::processEventsUntil(
                [&] { return out.find(QStringLiteral("[Vocalynx] Recording started"), from).has_value(); }, 10000)) {
            std::fprintf(stderr, "round %d: the dictation did not start\n", r + 1);
            return 1;
        }
        test::processEventsUntil([] { return false; }, int(dictationSeconds * 1000));
        std::optional<double> firstChar;
        QObject::connect(&field, &QLineEdit::textChanged, &field, [&](const QString& text) {
            if (!firstChar && !text.isEmpty()) firstChar = clock.nsecsElapsed() / 1e6;
        });
        const size_t stopFrom = out.size();
        const double stop = clock.nsecsElapsed() / 1e6;
        pressStopShortcut(display);
        QString finalText;
        const bool done = test::processEventsUntil(
            [&] {
                size_t i = 0;
                if (finalText.isEmpty() &&
                    out.find(QStringLiteral("[Vocalynx] Injecting final text: "), stopFrom, &i)) {
                    finalText = out.line(i).section(QStringLiteral("Injecting final text: "), 1);
                    finalText.chop(3);  // the three dots
                }
                return !finalText.isEmpty() && field.text() == finalText;
            },
            10000);
        const double complete = clock.nsecsElapsed() / 1e6;
        QObject::disconnect(&field, &QLineEdit::textChanged, nullptr, nullptr);
        const std::optional<double> drain = out.find(QStringLiteral("drainComplete"), stopFrom);
        // The players' resume sits between these two lines of the post-recording step.
        const std::optional<double> resumeFrom =
            out.find(QStringLiteral("[Vocalynx] Post-recording: injecting text"), stopFrom);
        const std::optional<double> resumeTo = out.find(QStringLiteral("[Vocalynx] Injecting final text: "), stopFrom);
        if (resumeFrom && resumeTo) resumes.push_back(*resumeTo - *resumeFrom);
        if (!done || !firstChar || !drain) {
            std::fprintf(stderr, "round %d: no complete text (final \"%s\", field \"%s\")\n", r + 1, qPrintable(finalText),
                         qPrintable(field.text()));
            return 1;
        }
        drains.push_back(*drain - stop);
        firsts.push_back(*firstChar - stop);
        completes.push_back(complete - stop);
        drainToFirst.push_back(*firstChar - *drain);
        std::printf("round %d: drain end %.0f ms, first character %.0f ms, text complete %.0f ms after the stop "
                    "(%lld characters); first character %.1f ms after the drain's end; players resumed in %.1f ms\n",
                    r + 1, drains.back(), firsts.back(), completes.back(), static_cast<long long>(finalText.size()),
                    drainToFirst.back(), resumes.empty() ? -1.0 : resumes.back());
        // Back to idle before the next round.
        test::processEventsUntil([&] { return out.find(QStringLiteral("collapseFinished"), stopFrom).has_value(); },
                                 10000);
        test::processEventsUntil([] { return false; }, 1000);
    }
    std::printf("dictations of %.1f s; medians over %d rounds: drain end %.0f ms, first character %.0f ms, text complete %.0f ms after the "
                "stop; first character %.1f ms after the drain's end (target: within 20 ms); players resumed in "
                "%.1f ms (between the two post-recording log lines, as they arrive)\n",
                dictationSeconds, rounds, median(drains), median(firsts), median(completes), median(drainToFirst),
                median(resumes));
    tone.kill();
    tone.waitForFinished(2000);
    XCloseDisplay(display);
    (void)qapp;
    return 0;
}
