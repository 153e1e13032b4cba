// The converter's tail at a stop, with the audio queue on a thread of its own: a buffer that is
// still being converted when the user stops must not let the converter's reset overtake the flush
// of what its filter still holds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "FakeProcesses.h"
#include "StandInRig.h"
#include "engine/ColiPid.h"

namespace vocalynx::test {
namespace {

// The real converter; on request the next buffer it converts takes a while, as a busy machine
// makes it, and the test learns when that conversion has begun.
class SlowOnceConverters final : public AudioConverterFactory {
public:
    std::unique_ptr<AudioConverter> makeConverter(const AudioInputFormat& input) override {
        auto inner = real_.makeConverter(input);
        if (!inner) return nullptr;
        return std::make_unique<Slow>(*this, std::move(inner));
    }
    void holdNextConversion() {
        entered.store(false);
        holdNext_.store(true);
    }
    std::atomic<int> converted{0};
    std::atomic<bool> entered{false};

private:
    struct Slow final : AudioConverter {
        Slow(SlowOnceConverters& owner, std::unique_ptr<AudioConverter> inner) : owner_(owner), inner_(std::move(inner)) {}
        AudioInputFormat inputFormat() const override { return inner_->inputFormat(); }
        std::optional<QByteArray> convert(const SampleBuffer& buffer) override {
            if (owner_.holdNext_.exchange(false)) {
                owner_.entered.store(true);
                // Long enough for the stop on the main thread to reach the converter's lock.
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            auto out = inner_->convert(buffer);
            owner_.converted.fetch_add(1);
            return out;
        }
        std::optional<QByteArray> flush() override { return inner_->flush(); }
        SlowOnceConverters& owner_;
        std::unique_ptr<AudioConverter> inner_;
    };
    SampleRateConverterFactory real_;
    std::atomic<bool> holdNext_{false};
};

TEST(ConverterTail, AStopDuringAConversionStillSendsTheFiltersTail) {
    guiApplication();
    RealRuntime rt;
    ASSERT_TRUE(installPlaceholderSpeechProgram(rt.paths.home));
    ASSERT_TRUE(installSpeechModel(rt.paths.home));
    ConfigStore config{rt.runtime};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    FakeCaptureSystem capture;
    SlowOnceConverters converters;
    FakeProcessLauncher launcher;
    WhisperEngine engine{{rt.runtime, config, sounds, nullptr, nullptr, &capture, &converters, &launcher}};

    // Each dictation is 101 buffers of 10 ms at 48 kHz: 1.01 s, 32,320 bytes of 16 kHz s16 once
    // the filter's tail is sent. The stop comes while the last buffer is being converted.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        engine.startRecording([](const QString&) {});
        std::shared_ptr<FakeCaptureSession> microphone;
        ASSERT_TRUE(waitFor([&] { return (microphone = capture.running()) != nullptr; }));
        const int before = converters.converted.load();
        for (int i = 0; i < 100; ++i) ASSERT_TRUE(microphone->deliver(constantBuffer(0.1f)));
        ASSERT_TRUE(waitFor([&] { return converters.converted.load() == before + 100; }));
        const std::shared_ptr<FakeChildProcess> process = launcher.last();
        ASSERT_NE(process, nullptr);
        ASSERT_TRUE(waitFor([&] { return !process->in->all().isEmpty(); })) << "the speech process hears the audio";

        converters.holdNextConversion();
        ASSERT_TRUE(microphone->deliver(constantBuffer(0.1f)));
        ASSERT_TRUE(waitFor([&] { return converters.entered.load(); }));
        engine.stopRecording();
        ASSERT_TRUE(waitFor([&] { return process->in->closed(); }));
        EXPECT_EQ(process->in->all().size(), 32320) << "the last buffer and the filter's tail reach the recogniser";
        ASSERT_TRUE(waitFor([&] { return engine.state() == RecordingState::idle; }));
    }
    engine.shutdown();
    persistentColiPid.store(0);
}

}  // namespace
}  // namespace vocalynx::test
