#pragma once
// Microphone capture: input devices and capture sessions that hand sample buffers to a queue.

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Executor.h"

namespace vocalynx {

enum class SampleFormat { float32, int16 };

// One buffer of interleaved samples as the device delivered it.
struct SampleBuffer {
    SampleFormat format = SampleFormat::float32;
    int frameCount = 0;
    double sampleRate = 0;
    int channelCount = 0;
    QByteArray bytes;
};

struct AudioInputDevice {
    QString id;
    QString name;
    bool connected = true;
};

// Events a running session reports. They may arrive on any thread; the receiver hops to its own queue.
struct CaptureSessionEvent {
    enum class Kind { runtimeError, interrupted, interruptionEnded };
    Kind kind;
    // Runtime errors: the error's description; empty when the system gave none.
    QString error;
    // Interruptions: what the system said about it, as key/value pairs in its order; absent when it
    // said nothing at all.
    std::optional<std::vector<std::pair<QString, QString>>> userInfo;
};

// One microphone input and one data output, configured once.
class CaptureSession {
public:
    virtual ~CaptureSession() = default;
    // Starts delivering buffers; blocking, call it on the capture-session queue.
    virtual void startRunning() = 0;
    virtual bool isRunning() const = 0;
    virtual void stopRunning() = 0;
    // Stops if running and releases the input and the output.
    virtual void tearDown() = 0;
    // Buffers go to the handler on the given queue, one at a time in arrival order; a null handler
    // detaches (a buffer already posted may still arrive).
    virtual void setSampleBufferHandler(std::function<void(const SampleBuffer&)> handler, Executor* queue) = 0;
    // Runtime errors and interruptions; a null handler detaches.
    virtual void setEventHandler(std::function<void(const CaptureSessionEvent&)> handler) = 0;
};

class AudioCaptureSystem {
public:
    virtual ~AudioCaptureSystem() = default;
    virtual std::vector<AudioInputDevice> inputDevices() = 0;
    virtual std::optional<AudioInputDevice> defaultInputDevice() = 0;
    // A configured session for the device, or null when no input can be made for it; then error
    // says why.
    virtual std::shared_ptr<CaptureSession> makeSession(const AudioInputDevice& device, QString& error) = 0;
};

}  // namespace vocalynx
