// The short-latency hold on the sink that a microphone records, through the private sound server:
// a microphone of its own, remapped from the monitor of a null sink of its own, so that the sink
// can be taken away and brought back without touching the shared test microphone.

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include "LiveRuntime.h"
#include "TestSoundServer.h"
#include "platform/linux/QtAudioCapture.h"

namespace vocalynx::test {
namespace {

const QString kSink = QStringLiteral("vocalynx_hold_sink");
const QString kMic = QStringLiteral("vocalynx_hold_mic");
const QString kMicDescription = QStringLiteral("VocalynxHoldMic");

// The sink and the microphone recorded from its monitor; unloaded again at the end of the scope.
class HeldSink {
public:
    HeldSink() { load(); }
    ~HeldSink() { unload(); }
    HeldSink(const HeldSink&) = delete;
    HeldSink& operator=(const HeldSink&) = delete;

    void load() {
        pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=") + kSink,
               QStringLiteral("sink_properties=device.description=VocalynxHoldSpeaker")});
        pactl({QStringLiteral("load-module"), QStringLiteral("module-remap-source"), QStringLiteral("source_name=") + kMic,
               QStringLiteral("master=") + kSink + QStringLiteral(".monitor"),
               QStringLiteral("source_properties=device.description=") + kMicDescription});
    }
    // The microphone first, then the sink under it.
    void unload() {
        for (const QString& module : {QStringLiteral("module-remap-source"), QStringLiteral("module-null-sink")})
            for (const QString& line : pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")})
                                           .split(QLatin1Char('\n')))
                if (line.contains(module) &&
                    (line.contains(QStringLiteral("source_name=") + kMic + QLatin1Char(' ')) ||
                     line.contains(QStringLiteral("sink_name=") + kSink + QLatin1Char(' '))))
                    pactl({QStringLiteral("unload-module"), line.section(QLatin1Char('\t'), 0, 0)});
    }
};

std::optional<AudioInputDevice> findMic(QtAudioCapture& capture) {
    for (const auto& d : capture.inputDevices())
        if (d.name == kMicDescription) return d;
    return std::nullopt;
}

class PulseLatencyHold : public ::testing::Test {
protected:
    PulseLatencyHold() { guiApplication(); }
    // A session on the microphone, made and torn down as a dictation does.
    void recordOnce() {
        std::optional<AudioInputDevice> mic;
        ASSERT_TRUE(processEventsUntil([&] { return (mic = findMic(capture)).has_value(); }));
        QString error;
        auto session = capture.makeSession(*mic, error);
        ASSERT_NE(session, nullptr) << error.toStdString();
        session->startRunning();
        session->tearDown();
    }
    LiveRuntime rt;
    HeldSink sink;
    QtAudioCapture capture;
};

}  // namespace

// A sink recreated under its name (a restarted sound server, a virtual device set up again) kills
// the hold's stream; the next session holds the new sink instead of keeping the dead hold.
TEST_F(PulseLatencyHold, ASinkThatComesBackUnderItsNameIsHeldAgain) {
    recordOnce();
    ASSERT_TRUE(processEventsUntil([] { return latencyHoldsOn(kSink) == 1; }, 5000));

    sink.unload();
    ASSERT_TRUE(processEventsUntil([&] { return !findMic(capture) && sinkIndex(kSink).isEmpty(); }));
    sink.load();
    recordOnce();
    EXPECT_TRUE(processEventsUntil([] { return latencyHoldsOn(kSink) == 1; }, 5000))
        << pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")}).toStdString();
}

}  // namespace vocalynx::test
