#include "platform/linux/QtAudioCapture.h"

#include "platform/linux/PulseDefaultSource.h"
#include "platform/linux/PulseSinkLatencyHold.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMediaDevices>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

namespace vocalynx {

namespace {

constexpr int kDevicePollMs = 250;
constexpr qint64 kFragmentMicroseconds = 20'000;
// The audio source announces data once per record fragment it settled on. A read of our own comes
// only when that announcement is half a fragment late, as it is for sources whose fragment the
// server makes far longer than asked.
constexpr int kLateReadMs = 30;
// What one read of the stream asks for at most (more is read in further reads of the same turn).
constexpr qsizetype kReadChunkBytes = 64 * 1024;
// After the sound server restarted, Qt Multimedia connects to it again on a timer of its own (every
// 3 s after it lost the server); until then no stream opens. A start then tries again this often,
// for a little longer than one such period.
constexpr int kStartRetryMs = 100;
constexpr int kStartAttempts = 35;
// A lapsed latency hold is tried again this often, for up to a minute.
constexpr int kHoldRenewalMs = 250;
constexpr int kHoldRenewalAttempts = 240;

AudioInputDevice describe(const QAudioDevice& device) {
    return {QString::fromUtf8(device.id()), device.description(), true};
}

QString errorText(QAudio::Error error) {
    switch (error) {
        case QAudio::NoError:
            return {};
        case QAudio::OpenError:
            return QStringLiteral("The audio input device could not be opened");
        case QAudio::IOError:
            return QStringLiteral("Reading from the audio input device failed");
        case QAudio::UnderrunError:
            return QStringLiteral("The audio input device delivered no data in time");
        case QAudio::FatalError:
            return QStringLiteral("The audio input device failed and cannot be used");
    }
    return QStringLiteral("Unknown audio input error");
}

// What the session shares with the objects on the capture thread: the handlers and the stream's
// layout. Guarded by its mutex; handlers are called without it held.
struct SessionShared {
    std::mutex mutex;
    std::function<void(const SampleBuffer&)> sampleHandler;
    Executor* sampleQueue = nullptr;
    std::function<void(const CaptureSessionEvent&)> eventHandler;

    void raise(const CaptureSessionEvent& event) {
        std::function<void(const CaptureSessionEvent&)> handler;
        {
            std::lock_guard lock(mutex);
            handler = eventHandler;
        }
        if (handler) handler(event);
    }
};

// Turns what the audio source delivers into sample buffers of whole frames (a partial frame waits
// for the rest) and hands them to the session's handler. The stream is read into one buffer kept
// for the whole session; each handed-over buffer is the consumer's own copy of the whole frames.
class BufferAssembler {
public:
    BufferAssembler(std::shared_ptr<SessionShared> shared, SampleFormat format, int rate, int channels)
        : shared_(std::move(shared)), format_(format), rate_(rate), channels_(channels),
          frameBytes_(channels * (format == SampleFormat::float32 ? 4 : 2)) {}

    // Reads all the stream holds and hands it over as one buffer.
    void readFrom(QIODevice& stream) {
        qsizetype filled = pending_.size();  // a partial frame from the last read
        for (;;) {
            if (pending_.size() - filled < kReadChunkBytes) pending_.resize(filled + kReadChunkBytes);
            const qint64 got = stream.read(pending_.data() + filled, pending_.size() - filled);
            if (got <= 0) break;
            filled += static_cast<qsizetype>(got);
            if (filled < pending_.size()) break;  // drained
        }
        pending_.resize(filled);  // keeps the storage for the next read
        const qsizetype whole = filled - filled % frameBytes_;
        if (whole == 0) return;
        SampleBuffer buffer;
        buffer.format = format_;
        buffer.sampleRate = rate_;
        buffer.channelCount = channels_;
        buffer.frameCount = static_cast<int>(whole / frameBytes_);
        buffer.bytes = QByteArray(pending_.constData(), whole);
        std::memmove(pending_.data(), pending_.constData() + whole, static_cast<size_t>(filled - whole));
        pending_.resize(filled - whole);
        std::function<void(const SampleBuffer&)> handler;
        Executor* queue;
        {
            std::lock_guard lock(shared_->mutex);
            handler = shared_->sampleHandler;
            queue = shared_->sampleQueue;
        }
        if (!handler) return;
        if (queue)
            queue->post([handler, buffer = std::move(buffer)] { handler(buffer); });
        else
            handler(buffer);
    }
    void clear() { pending_.clear(); }

private:
    std::shared_ptr<SessionShared> shared_;
    SampleFormat format_;
    int rate_;
    int channels_;
    int frameBytes_;
    QByteArray pending_;
};

// The capture-thread side of one session: the audio source, its sink, and the watch on the
// device list.
class SessionCore final : public QObject {
public:
    SessionCore(const QAudioDevice& device, const QAudioFormat& format, SampleFormat sampleFormat,
                std::shared_ptr<SessionShared> shared)
        : device_(device), shared_(std::move(shared)),
          source_(new QAudioSource(device, format, this)),
          assembler_(shared_, sampleFormat, format.sampleRate(), format.channelCount()) {
        // A small record fragment: the sound server then hands audio over as it is captured
        // instead of in fragments of up to two seconds.
        source_->setBufferSize(format.bytesForDuration(kFragmentMicroseconds));
        connect(source_, &QAudioSource::stateChanged, this, [this](QAudio::State state) {
            if (state != QAudio::StoppedState || !running_) return;
            running_ = false;
            read_->stop();
            const QAudio::Error error = source_->error();
            if (error != QAudio::NoError && !stopRequested_)
                shared_->raise({CaptureSessionEvent::Kind::runtimeError, errorText(error), std::nullopt});
        });
        devices_ = new QMediaDevices(this);
        connect(devices_, &QMediaDevices::audioInputsChanged, this, [this] { devicesChanged(); });
        // The stream is read when the audio source announces data, once per fragment; a timer of
        // our own reads it when that announcement is late: the source's pacing follows the fragment
        // the server settled on, which for some sources is two seconds whatever was asked.
        read_ = new QTimer(this);
        read_->setSingleShot(true);
        read_->setInterval(kLateReadMs);
        connect(read_, &QTimer::timeout, this, [this] { readTurn(); });
        retry_ = new QTimer(this);
        retry_->setSingleShot(true);
        retry_->setInterval(kStartRetryMs);
        connect(retry_, &QTimer::timeout, this, [this] { tryStart(); });
    }

    void start() {
        stopRequested_ = false;
        assembler_.clear();
        attemptsLeft_ = kStartAttempts;
        tryStart();
    }
    // A start that waits for Qt Multimedia's connection to the sound server counts as running.
    bool running() const { return running_ || retry_->isActive(); }
    void stop() {
        stopRequested_ = true;
        running_ = false;
        retry_->stop();
        read_->stop();
        source_->stop();
        stream_ = nullptr;
    }

private:
    // One turn of reading, on the audio source's announcement or on our late timer, which starts
    // over. The PulseAudio backend updates its device list without always announcing it, and the
    // sound server moves the stream of a vanished source to another one instead of ending it: the
    // list is therefore also looked at every 250 ms while the session runs, in these turns rather
    // than on a wake-up of its own.
    void readTurn() {
        if (!running_) return;
        read_->start();
        readAvailable();
        if (devicesCheckedAt_.hasExpired(kDevicePollMs)) {
            devicesCheckedAt_.start();
            devicesChanged();
        }
    }

    void tryStart() {
        stream_ = source_->start();
        running_ = stream_ && source_->state() != QAudio::StoppedState && source_->error() == QAudio::NoError;
        if (!running_) {
            // A fatal error at the start: Qt Multimedia has no connection to the sound server (yet).
            const bool waiting = source_->error() == QAudio::FatalError;
            if (waiting && --attemptsLeft_ > 0) {
                retry_->start();
            } else if (waiting) {
                // It was waited for, and counted as running: its end is an error.
                shared_->raise({CaptureSessionEvent::Kind::runtimeError, errorText(QAudio::FatalError), std::nullopt});
            }
            return;
        }
        connect(stream_, &QIODevice::readyRead, this, [this] { readTurn(); });
        devicesCheckedAt_.start();
        readTurn();
    }

    void readAvailable() {
        if (!running_ || !stream_) return;
        assembler_.readFrom(*stream_);
    }

    void devicesChanged() {
        bool listed = false;
        for (const QAudioDevice& d : QMediaDevices::audioInputs())
            if (d.id() == device_.id()) listed = true;
        if (!listed && !lost_) {
            lost_ = true;
            shared_->raise({CaptureSessionEvent::Kind::interrupted, {},
                            std::vector<std::pair<QString, QString>>{{QStringLiteral("reason"), QStringLiteral("device-removed")},
                                                                     {QStringLiteral("device"), device_.description()}}});
        } else if (listed && lost_) {
            lost_ = false;
            shared_->raise({CaptureSessionEvent::Kind::interruptionEnded, {}, std::nullopt});
        }
    }

    QAudioDevice device_;
    std::shared_ptr<SessionShared> shared_;
    QAudioSource* source_;
    QIODevice* stream_ = nullptr;  // owned by source_, valid while it runs
    BufferAssembler assembler_;
    QTimer* read_ = nullptr;  // the late read
    QElapsedTimer devicesCheckedAt_;
    QMediaDevices* devices_ = nullptr;
    QTimer* retry_ = nullptr;
    int attemptsLeft_ = 0;
    bool running_ = false;
    bool stopRequested_ = false;
    bool lost_ = false;
};

class QtCaptureSession final : public CaptureSession {
public:
    QtCaptureSession(QtAudioCapture& owner, SessionCore* core, std::shared_ptr<SessionShared> shared)
        : owner_(owner), core_(core), shared_(std::move(shared)) {}
    ~QtCaptureSession() override {
        detach();
        QPointer<SessionCore> core = core_;
        owner_.runOnCaptureThread([core] { delete core.data(); });
    }

    void startRunning() override {
        owner_.runOnCaptureThread([this] {
            if (core_) core_->start();
        });
    }
    bool isRunning() const override {
        bool running = false;
        owner_.runOnCaptureThread([this, &running] { running = core_ && core_->running(); });
        return running;
    }
    void stopRunning() override {
        owner_.runOnCaptureThread([this] {
            if (core_) core_->stop();
        });
    }
    void tearDown() override {
        stopRunning();
        detach();
    }
    void setSampleBufferHandler(std::function<void(const SampleBuffer&)> handler, Executor* queue) override {
        std::lock_guard lock(shared_->mutex);
        shared_->sampleHandler = std::move(handler);
        shared_->sampleQueue = shared_->sampleHandler ? queue : nullptr;
    }
    void setEventHandler(std::function<void(const CaptureSessionEvent&)> handler) override {
        std::lock_guard lock(shared_->mutex);
        shared_->eventHandler = std::move(handler);
    }

private:
    void detach() {
        std::lock_guard lock(shared_->mutex);
        shared_->sampleHandler = nullptr;
        shared_->sampleQueue = nullptr;
        shared_->eventHandler = nullptr;
    }
    QtAudioCapture& owner_;
    QPointer<SessionCore> core_;
    std::shared_ptr<SessionShared> shared_;
};

}  // namespace

// Carries calls from other threads to the capture thread and lets each caller wait for its own.
// The hand-over is a queue under a mutex of ours and a bare event that only says "look at it"; the
// caller waits on a condition of ours. (Qt's blocking queued call waits on a futex and passes the
// work inside Qt's own event queue, so a thread sanitizer would see neither that the caller's data
// came before the work nor that the work came before the caller goes on.) Made before the capture
// thread starts, and deleted once it has ended.
class CaptureCalls final : public QObject {
public:
    void carryOut(const std::function<void()>& work) {
        auto call = std::make_shared<Call>(Call{work, false});
        {
            std::lock_guard lock(mutex_);
            pending_.push_back(call);
        }
        QCoreApplication::postEvent(this, new QEvent(kLookEvent));
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [&call] { return call->done; });
    }

protected:
    // Only the events posted above reach here; the event itself is not looked at.
    void customEvent(QEvent*) override {
        std::unique_lock lock(mutex_);
        while (!pending_.empty()) {
            std::shared_ptr<Call> call = std::move(pending_.front());
            pending_.pop_front();
            lock.unlock();
            call->work();
            lock.lock();
            call->done = true;
            finished_.notify_all();
        }
    }

private:
    struct Call {
        std::function<void()> work;  // the caller's own, copied
        bool done;                   // under mutex_
    };
    static inline const QEvent::Type kLookEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
    std::mutex mutex_;
    std::condition_variable finished_;
    std::deque<std::shared_ptr<Call>> pending_;
};

QtAudioCapture::QtAudioCapture() : calls_(std::make_unique<CaptureCalls>()) {
    thread_.setObjectName(QStringLiteral("capture-io"));
    calls_->moveToThread(&thread_);
    context_ = new QObject;
    context_->moveToThread(&thread_);
    thread_.start();
}

void QtAudioCapture::holdLatencyOfSinkFeeding(const QString& sourceId) {
    const std::optional<QString> sink = pulseSinkFeedingSource(sourceId);
    std::unique_ptr<PulseSinkLatencyHold> released;
    std::lock_guard lock(holdMutex_);
    heldSource_ = sourceId;
    // A lapsed hold (its sink or the server went away since) is made again, even for a sink of
    // the same name.
    if (sink && latencyHold_ && latencyHold_->sinkName() == *sink && !latencyHold_->lapsed()) return;
    released = std::move(latencyHold_);
    if (!sink || closing_) return;
    // A hold that lapses is made again from the capture thread, where nothing waits on it.
    QObject* context = context_;
    latencyHold_ = std::make_unique<PulseSinkLatencyHold>(*sink, [this, context] {
        QMetaObject::invokeMethod(
            context,
            [this] {
                if (renewalPending_) return;
                renewalPending_ = true;
                QTimer::singleShot(kHoldRenewalMs, context_, [this] { renewLapsedHold(kHoldRenewalAttempts); });
            },
            Qt::QueuedConnection);
    });
}

void QtAudioCapture::renewLapsedHold(int attemptsLeft) {
    QString source;
    {
        std::lock_guard lock(holdMutex_);
        if (latencyHold_ && !latencyHold_->lapsed()) {
            renewalPending_ = false;
            return;
        }
        source = heldSource_;
    }
    holdLatencyOfSinkFeeding(source);
    bool held = false;
    {
        std::lock_guard lock(holdMutex_);
        held = latencyHold_ && !latencyHold_->lapsed();
    }
    // Not yet: the server is not back, or the sink not set up again. A new hold that lapses later
    // asks for its own renewal.
    if (held || attemptsLeft <= 1) {
        renewalPending_ = false;
        return;
    }
    QTimer::singleShot(kHoldRenewalMs, context_, [this, attemptsLeft] { renewLapsedHold(attemptsLeft - 1); });
}

QtAudioCapture::~QtAudioCapture() {
    // The hold first, and no new one after it (a renewal may be under way on the capture thread):
    // once it is gone it hands no news to the capture thread.
    {
        std::lock_guard lock(holdMutex_);
        closing_ = true;
        latencyHold_.reset();
    }
    QObject* context = context_;
    runOnCaptureThread([context] { delete context; });
    thread_.quit();
    thread_.wait();
    calls_.reset();
}

void QtAudioCapture::runOnCaptureThread(const std::function<void()>& work) {
    if (QThread::currentThread() == &thread_)
        work();
    else
        calls_->carryOut(work);
}

std::vector<AudioInputDevice> QtAudioCapture::inputDevices() {
    std::vector<AudioInputDevice> devices;
    runOnCaptureThread([&devices] {
        for (const QAudioDevice& device : QMediaDevices::audioInputs()) devices.push_back(describe(device));
    });
    return devices;
}

std::optional<AudioInputDevice> QtAudioCapture::defaultInputDevice() {
    // The desktop's choice lives in the sound server; Qt's own default does not follow a change of
    // it while the program runs. Asked before entering the capture thread, so a slow server holds
    // only the caller.
    const std::optional<QString> serverDefault = pulseDefaultSourceName();
    std::optional<AudioInputDevice> result;
    runOnCaptureThread([&result, &serverDefault] {
        if (serverDefault)
            for (const QAudioDevice& device : QMediaDevices::audioInputs())
                if (QString::fromUtf8(device.id()) == *serverDefault) {
                    result = describe(device);
                    return;
                }
        const QAudioDevice device = QMediaDevices::defaultAudioInput();
        if (!device.isNull()) result = describe(device);
    });
    return result;
}

std::shared_ptr<CaptureSession> QtAudioCapture::makeSession(const AudioInputDevice& wanted, QString& error) {
    SessionCore* core = nullptr;
    auto shared = std::make_shared<SessionShared>();
    runOnCaptureThread([&] {
        QAudioDevice device;
        for (const QAudioDevice& d : QMediaDevices::audioInputs())
            if (QString::fromUtf8(d.id()) == wanted.id) device = d;
        if (device.isNull()) {
            error = QStringLiteral("The audio input device %1 is no longer available").arg(wanted.name);
            return;
        }
        // The device's own rate and channel layout, as 32-bit float; 16-bit when float is refused.
        QAudioFormat format = device.preferredFormat();
        SampleFormat sampleFormat = SampleFormat::float32;
        format.setSampleFormat(QAudioFormat::Float);
        if (!device.isFormatSupported(format)) {
            format.setSampleFormat(QAudioFormat::Int16);
            sampleFormat = SampleFormat::int16;
        }
        if (!device.isFormatSupported(format) || format.sampleRate() <= 0 || format.channelCount() <= 0) {
            error = QStringLiteral("The audio input device %1 offers no usable sample format").arg(wanted.name);
            return;
        }
        core = new SessionCore(device, format, sampleFormat, shared);
        core->setParent(context_);
    });
    if (!core) return nullptr;
    holdLatencyOfSinkFeeding(wanted.id);
    return std::make_shared<QtCaptureSession>(*this, core, std::move(shared));
}

}  // namespace vocalynx
