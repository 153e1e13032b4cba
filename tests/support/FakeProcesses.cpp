#include "FakeProcesses.h"

namespace vocalynx::test {

bool FakePipeWriter::write(const QByteArray& bytes) {
    std::lock_guard lock(mutex_);
    if (closed_ || failWrites) return false;
    chunks_ << bytes;
    return true;
}

void FakePipeWriter::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

QList<QByteArray> FakePipeWriter::chunks() const {
    std::lock_guard lock(mutex_);
    return chunks_;
}

QByteArray FakePipeWriter::all() const {
    std::lock_guard lock(mutex_);
    QByteArray out;
    for (const auto& c : chunks_) out += c;
    return out;
}

bool FakePipeWriter::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

void FakePipeReader::setReadHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

bool FakePipeReader::feed(const QByteArray& bytes) {
    Handler handler;
    QByteArray chunk;
    {
        std::lock_guard lock(mutex_);
        handler = handler_;
        unread_ += bytes;
        if (handler) chunk.swap(unread_);
    }
    if (!handler) return false;
    handler(chunk);
    return true;
}

bool FakePipeReader::hasHandler() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(handler_);
}

PipeReader::Handler FakePipeReader::handler() const {
    std::lock_guard lock(mutex_);
    return handler_;
}

bool FakeChildProcess::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void FakeChildProcess::setTerminationHandler(std::function<void()> handler) {
    bool runNow = false;
    {
        std::lock_guard lock(mutex_);
        if (!running_ && handler)
            runNow = true;
        else
            onExit_ = handler;
    }
    if (runNow) handler();
}

void FakeChildProcess::terminate() {
    bool ends = false;
    {
        std::lock_guard lock(mutex_);
        ++terminateCount_;
        ends = running_ && exitOnTerminate;
    }
    if (ends) exit();
}

void FakeChildProcess::exit() {
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        running_ = false;
        handler = std::move(onExit_);
        onExit_ = nullptr;
    }
    if (handler) handler();
}

bool FakeChildProcess::hasTerminationHandler() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(onExit_);
}

int FakeChildProcess::terminateCount() const {
    std::lock_guard lock(mutex_);
    return terminateCount_;
}

std::shared_ptr<ChildProcess> FakeProcessLauncher::launch(const LaunchCommand& command, QString* error) {
    std::lock_guard lock(mutex_);
    if (launchError) {
        if (error) *error = *launchError;
        return nullptr;
    }
    auto process = std::make_shared<FakeChildProcess>(nextPid_++, command);
    launched_.push_back(process);
    return process;
}

std::optional<RunOutput> FakeProcessLauncher::run(const QString&, const QStringList&, QString* error) {
    std::lock_guard lock(mutex_);
    ++runCount_;
    if (!whichOutput) {
        if (error) *error = QStringLiteral("cannot start");
        return std::nullopt;
    }
    return RunOutput{*whichOutput, 0};
}

std::vector<std::shared_ptr<FakeChildProcess>> FakeProcessLauncher::launched() const {
    std::lock_guard lock(mutex_);
    return launched_;
}

std::shared_ptr<FakeChildProcess> FakeProcessLauncher::last() const {
    std::lock_guard lock(mutex_);
    return launched_.empty() ? nullptr : launched_.back();
}

int FakeProcessLauncher::runCount() const {
    std::lock_guard lock(mutex_);
    return runCount_;
}

}  // namespace vocalynx::test
