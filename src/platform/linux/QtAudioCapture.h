#pragma once
// Microphone capture over Qt Multimedia (PulseAudio, or PipeWire's PulseAudio service).
// Every Qt Multimedia object lives on one capture I/O thread with its own event loop; the port's
// calls, from whichever thread, are carried out there. Devices are QMediaDevices' audio inputs
// (name = description, connected = still listed); the default is the sound server's default source
// when Qt lists it, else Qt's own default. A session is a QAudioSource in the device's preferred
// layout as 32-bit float (signed 16-bit when float is refused), with a 20 ms record fragment, read
// as the source announces each fragment (or by a timer of our own when it is late). A start while
// Qt Multimedia is connecting to a restarted sound server again waits for it (counted as running)
// and records from then on. Device loss becomes an interruption, a stream that stops with an error
// (or a start that waited in vain) becomes a runtime error. When the microphone records a sink's
// sound (a monitor or a virtual
// microphone remapped from one), that sink is held at a short latency, so that a recording hears
// it from its start; a hold that lapses (the sound server restarted, the sink was set up again) is
// made again as soon as the server answers, before the next recording needs it.

#include <QThread>
#include <memory>
#include <mutex>

#include "platform/AudioCapture.h"

class QObject;

namespace vocalynx {

class CaptureCalls;
class PulseSinkLatencyHold;

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
    // Holds the sink that feeds the source at a short latency, or lets go of a held one.
    void holdLatencyOfSinkFeeding(const QString& sourceId);
    // Capture thread: after a hold lapsed, makes it again once the server answers, trying for a
    // bounded time.
    void renewLapsedHold(int attemptsLeft);

    std::unique_ptr<CaptureCalls> calls_;  // on thread_; outlives it
    QThread thread_;
    QObject* context_ = nullptr;  // lives on thread_; deleted there
    std::mutex holdMutex_;
    std::unique_ptr<PulseSinkLatencyHold> latencyHold_;
    QString heldSource_;          // the source whose sink is (or was last) held; under holdMutex_
    bool closing_ = false;        // under holdMutex_: no hold is made any more
    bool renewalPending_ = false;  // capture thread
};

}  // namespace vocalynx
