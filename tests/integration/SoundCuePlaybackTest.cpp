// The sound cues through Qt Multimedia on the private sound server: each cue is heard whole, and
// its playback stream is gone once it has played, so that nothing of it stays open between cues.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <cstdio>
#include <cstring>

#include "LiveRuntime.h"
#include "TestSoundServer.h"
#include "ToneAnalysis.h"
#include "core/SoundFeedback.h"
#include "platform/linux/QtSoundOutput.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// The playback streams this process has open on the sound server.
int ownPlaybackStreams() {
    const QString ownId = QStringLiteral("application.process.id = \"%1\"").arg(::getpid());
    return static_cast<int>(pactl({"list", "sink-inputs"}).count(ownId));
}

// Records the test sink's monitor as 48 kHz mono float.
class MonitorRecorder {
public:
    MonitorRecorder() {
        process_.start(QStringLiteral("parec"),
                       {QStringLiteral("--device=vocalynx_sink.monitor"), QStringLiteral("--format=float32le"),
                        QStringLiteral("--rate=48000"), QStringLiteral("--channels=1"), QStringLiteral("--raw"),
                        QStringLiteral("--latency-msec=20")});
    }
    ~MonitorRecorder() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    bool started() { return process_.waitForStarted(5000); }
    // Waits until the recorder delivers, so that nothing played from now on is missed.
    bool running() {
        return processEventsUntil([&] { return take().size() > 0; }, 5000);
    }
    // What was recorded since the last call.
    std::vector<float> take() {
        bytes_ += process_.readAllStandardOutput();
        const qsizetype whole = bytes_.size() - bytes_.size() % 4;
        std::vector<float> samples(static_cast<size_t>(whole / 4));
        std::memcpy(samples.data(), bytes_.constData(), static_cast<size_t>(whole));
        bytes_.remove(0, whole);
        return samples;
    }

private:
    QProcess process_;
    QByteArray bytes_;
};

// The energy of samples at a rate, in squared amplitude times seconds.
double energy(const std::vector<float>& samples, double rate) {
    double sum = 0;
    for (float s : samples) sum += static_cast<double>(s) * s;
    return sum / rate;
}

}  // namespace

// A cue is heard whole, its stream is released once it has played, and the next cue makes a new
// one and is heard whole again.
TEST(SoundCuePlayback, ACueIsHeardWholeAndLeavesNoStreamBehind) {
    guiApplication();
    MonitorRecorder recorder;
    ASSERT_TRUE(recorder.started());
    ASSERT_TRUE(recorder.running());
    const std::vector<float> cue = SoundFeedback::synthesize(SoundType::startRecording);
    const double cueEnergy = energy(cue, SoundFeedback::sampleRate);
    QtSoundOutput output;
    const auto id = output.prepare(SoundFeedback::makeWAV(cue));
    ASSERT_TRUE(id);
    ASSERT_EQ(ownPlaybackStreams(), 0);
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        recorder.take();
        QElapsedTimer sincePlay;
        sincePlay.start();
        output.play(*id);
        EXPECT_EQ(ownPlaybackStreams(), 1) << "the cue plays on a stream of its own";
        std::vector<float> heard;
        ASSERT_TRUE(processEventsUntil([&] {
            const std::vector<float> more = recorder.take();
            heard.insert(heard.end(), more.begin(), more.end());
            return ownPlaybackStreams() == 0;
        }, 10000)) << "the cue's stream stays open after the cue has played";
        std::printf("round %d: stream released %lld ms after the play\n", round,
                    static_cast<long long>(sincePlay.elapsed()));
        // What the monitor hears of the cue arrives a little after its stream has gone.
        processEventsUntil([] { return false; }, 300);
        const std::vector<float> rest = recorder.take();
        heard.insert(heard.end(), rest.begin(), rest.end());
        EXPECT_GT(energy(heard, 48000), 0.9 * cueEnergy) << "the cue was cut short";
        EXPECT_LT(energy(heard, 48000), 1.1 * cueEnergy);
    }
}
