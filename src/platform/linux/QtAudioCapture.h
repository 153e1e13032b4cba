#pragma once
// Microphone capture over Qt Multimedia (PulseAudio, or PipeWire's PulseAudio service).
// Every Qt Multimedia object lives on one capture I/O thread with its own event loop; the port's
// calls, from whichever thread, are carried out there. Devices are QMediaDevices' audio inputs
// (name = description, connected = still listed); the default is the sound server's default source
// when Qt lists it, else Qt's own default. A session is a QAudioSource in the device's preferred
// layout as 32-bit float (signed 16-bit when float is refused), with a 20 ms record fragment, read
// every 10 ms while it runs. Device loss becomes an interruption, a stream that stops with an error
// becomes a runtime error.

#include <QThread>
#include <memory>

#include "platform/AudioCapture.h"

class QObject;

namespace vocalynx {

class QtAudioCapture final : public AudioCaptureSystem {
public:
    QtAudioCapture();
    ~QtAudioCapture() override;

    std::vector<AudioInputDevice> inputDevices() override;
    std::optional<AudioInputDevice> defaultInputDevice() override;
    std::shared_ptr<CaptureSession> makeSession(const AudioInputDevice& device, QString& error) override;

    // Runs the work on the capture I/O thread and waits for it.
    void runOnCaptureThread(const std::function<void()>& work);

private:
    QThread thread_;
    QObject* context_ = nullptr;  // lives on thread_; deleted there
};

}  // namespace vocalynx
