#pragma once
// Child processes for tests: launches are recorded, each process keeps what was written to it, and
// the test makes it print, exit or fail by hand. Handlers run on the calling thread.

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <mutex>
#include <optional>

#include "platform/ChildProcess.h"

namespace vocalynx::test {

class FakePipeWriter final : public PipeWriter {
public:
    bool write(const QByteArray& bytes) override;
    void close() override;
    QList<QByteArray> chunks() const;
    QByteArray all() const;
    bool closed() const;
    bool failWrites = false;

private:
    mutable std::mutex mutex_;
    QList<QByteArray> chunks_;
    bool closed_ = false;
};

class FakePipeReader final : public PipeReader {
public:
    void setReadHandler(Handler handler) override;
    // Hands bytes to the handler; false when none is set. Like a pipe, bytes fed while no handler
    // was set wait, and go to a later handler ahead of the bytes of the next feed.
    bool feed(const QByteArray& bytes);
    bool hasHandler() const;
    // The handler as it is set now: a test keeps it to deliver a read that was already under way
    // on the pipe's thread when the handler was removed.
    Handler handler() const;

private:
    mutable std::mutex mutex_;
    Handler handler_;
    QByteArray unread_;
};

class FakeChildProcess final : public ChildProcess {
public:
    explicit FakeChildProcess(pid_t pid, LaunchCommand launched) : command(std::move(launched)), pid_(pid) {}
    pid_t pid() const override { return pid_; }
    bool isRunning() const override;
    std::shared_ptr<PipeWriter> standardInput() override { return in; }
    std::shared_ptr<PipeReader> standardOutput() override { return out; }
    std::shared_ptr<PipeReader> standardError() override { return err; }
    void setTerminationHandler(std::function<void()> handler) override;
    void terminate() override;

    // The process ends by itself (or by a signal from outside): the termination handler runs.
    void exit();
    bool hasTerminationHandler() const;
    int terminateCount() const;

    const LaunchCommand command;
    const std::shared_ptr<FakePipeWriter> in = std::make_shared<FakePipeWriter>();
    const std::shared_ptr<FakePipeReader> out = std::make_shared<FakePipeReader>();
    const std::shared_ptr<FakePipeReader> err = std::make_shared<FakePipeReader>();
    bool exitOnTerminate = true;  // SIGTERM ends it (without its termination handler if removed)

private:
    const pid_t pid_;
    mutable std::mutex mutex_;
    bool running_ = true;
    int terminateCount_ = 0;
    std::function<void()> onExit_;
};

class FakeProcessLauncher final : public ProcessLauncher {
public:
    std::shared_ptr<ChildProcess> launch(const LaunchCommand& command, QString* error) override;
    std::optional<RunOutput> run(const QString& executable, const QStringList& arguments, QString* error) override;

    std::vector<std::shared_ptr<FakeChildProcess>> launched() const;
    std::shared_ptr<FakeChildProcess> last() const;
    int runCount() const;

    // The next launches fail with this text while set.
    std::optional<QString> launchError;
    // What "/usr/bin/which coli" prints; none: it cannot be started.
    std::optional<QByteArray> whichOutput = QByteArray();

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<FakeChildProcess>> launched_;
    int runCount_ = 0;
    pid_t nextPid_ = 4000;
};

}  // namespace vocalynx::test
