#pragma once
// A capture system for tests: devices are set by the test, sessions record what was done to them,
// and the test feeds sample buffers and session events by hand.

#include <memory>
#include <mutex>
#include <vector>

#include "platform/AudioCapture.h"

namespace vocalynx::test {

class FakeCaptureSession final : public CaptureSession {
public:
    explicit FakeCaptureSession(AudioInputDevice inputDevice) : device(std::move(inputDevice)) {}
    void startRunning() override;
    bool isRunning() const override;
    void stopRunning() override;
    void tearDown() override;
    void setSampleBufferHandler(std::function<void(const SampleBuffer&)> handler, Executor* queue) override;
    void setEventHandler(std::function<void(const CaptureSessionEvent&)> handler) override;

    // Delivers a buffer the way a device would: to the handler, on the handler's queue.
    // Returns false when no handler is attached.
    bool deliver(const SampleBuffer& buffer);
    // Runs the handler on the calling thread, as the handler's queue would run it on a thread of
    // its own: a test thread stands in for that queue. Returns false when no handler is attached.
    bool deliverOnThisThread(const SampleBuffer& buffer);
    bool raise(const CaptureSessionEvent& event);
    bool hasSampleHandler() const;

    AudioInputDevice device;
    bool startSucceeds = true;  // whether startRunning leaves the session running
    int startCount = 0;
    int stopCount = 0;
    int tearDownCount = 0;

private:
    bool handOver(const SampleBuffer& buffer, bool onHandlerQueue);

    mutable std::mutex mutex_;
    bool running_ = false;
    std::function<void(const SampleBuffer&)> sampleHandler_;
    Executor* sampleQueue_ = nullptr;
    std::function<void(const CaptureSessionEvent&)> eventHandler_;
};

class FakeCaptureSystem final : public AudioCaptureSystem {
public:
    std::vector<AudioInputDevice> inputDevices() override { return devices; }
    std::optional<AudioInputDevice> defaultInputDevice() override { return defaultDevice; }
    std::shared_ptr<CaptureSession> makeSession(const AudioInputDevice& device, QString& error) override;

    std::vector<AudioInputDevice> devices{{QStringLiteral("mic-1"), QStringLiteral("Built-in Microphone"), true}};
    std::optional<AudioInputDevice> defaultDevice =
        AudioInputDevice{QStringLiteral("mic-1"), QStringLiteral("Built-in Microphone"), true};
    bool canMakeSessions = true;
    QString makeSessionError = QStringLiteral("The device cannot be opened");  // when canMakeSessions is false
    bool sessionsStartRunning = true;
    // Every session built, in order (a copy: the engine builds sessions on its drain's pool thread
    // too, so the list is guarded).
    std::vector<std::shared_ptr<FakeCaptureSession>> made() const;
    // The newest session that is running (the recording's), or null.
    std::shared_ptr<FakeCaptureSession> running() const;

private:
    mutable std::mutex madeLock_;
    std::vector<std::shared_ptr<FakeCaptureSession>> made_;
};

// A buffer of interleaved float samples, all of one value.
SampleBuffer constantBuffer(float value, int frames = 480, double rate = 48000, int channels = 1);

}  // namespace vocalynx::test
