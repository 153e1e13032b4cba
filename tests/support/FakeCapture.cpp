#include "FakeCapture.h"

#include <cstring>

namespace vocalynx::test {

void FakeCaptureSession::startRunning() {
    std::lock_guard lock(mutex_);
    ++startCount;
    running_ = startSucceeds;
}

bool FakeCaptureSession::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void FakeCaptureSession::stopRunning() {
    std::lock_guard lock(mutex_);
    ++stopCount;
    running_ = false;
}

void FakeCaptureSession::tearDown() {
    std::lock_guard lock(mutex_);
    ++tearDownCount;
    running_ = false;
}

void FakeCaptureSession::setSampleBufferHandler(std::function<void(const SampleBuffer&)> handler, Executor* queue) {
    std::lock_guard lock(mutex_);
    sampleHandler_ = std::move(handler);
    sampleQueue_ = queue;
}

void FakeCaptureSession::setEventHandler(std::function<void(const CaptureSessionEvent&)> handler) {
    std::lock_guard lock(mutex_);
    eventHandler_ = std::move(handler);
}

bool FakeCaptureSession::deliver(const SampleBuffer& buffer) { return handOver(buffer, true); }

bool FakeCaptureSession::deliverOnThisThread(const SampleBuffer& buffer) { return handOver(buffer, false); }

bool FakeCaptureSession::handOver(const SampleBuffer& buffer, bool onHandlerQueue) {
    std::function<void(const SampleBuffer&)> handler;
    Executor* queue;
    {
        std::lock_guard lock(mutex_);
        handler = sampleHandler_;
        queue = sampleQueue_;
    }
    if (!handler) return false;
    if (queue && onHandlerQueue)
        queue->post([handler, buffer] { handler(buffer); });
    else
        handler(buffer);
    return true;
}

bool FakeCaptureSession::raise(const CaptureSessionEvent& event) {
    std::function<void(const CaptureSessionEvent&)> handler;
    {
        std::lock_guard lock(mutex_);
        handler = eventHandler_;
    }
    if (!handler) return false;
    handler(event);
    return true;
}

bool FakeCaptureSession::hasSampleHandler() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(sampleHandler_);
}

std::shared_ptr<CaptureSession> FakeCaptureSystem::makeSession(const AudioInputDevice& device, QString& error) {
    if (!canMakeSessions) {
        error = makeSessionError;
        return nullptr;
    }
    auto session = std::make_shared<FakeCaptureSession>(device);
    session->startSucceeds = sessionsStartRunning;
    std::lock_guard lock(madeLock_);
    made_.push_back(session);
    return session;
}

std::vector<std::shared_ptr<FakeCaptureSession>> FakeCaptureSystem::made() const {
    std::lock_guard lock(madeLock_);
    return made_;
}

std::shared_ptr<FakeCaptureSession> FakeCaptureSystem::running() const {
    const std::vector<std::shared_ptr<FakeCaptureSession>> sessions = made();
    for (auto it = sessions.rbegin(); it != sessions.rend(); ++it)
        if ((*it)->isRunning()) return *it;
    return nullptr;
}

SampleBuffer constantBuffer(float value, int frames, double rate, int channels) {
    SampleBuffer b;
    b.format = SampleFormat::float32;
    b.frameCount = frames;
    b.sampleRate = rate;
    b.channelCount = channels;
    b.bytes.resize(static_cast<qsizetype>(frames) * channels * 4);
    auto* p = reinterpret_cast<float*>(b.bytes.data());
    for (int i = 0; i < frames * channels; ++i) p[i] = value;
    return b;
}

}  // namespace vocalynx::test
