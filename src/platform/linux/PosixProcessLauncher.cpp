#include "platform/linux/PosixProcessLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <future>
#include <string>
#include <vector>

namespace vocalynx {

namespace {

QString errnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// ---- standard input ----

// A pipe end and the eventfd that wakes the thread polling it; both closed with the state.
struct PolledPipe {
    UniqueFd fd;
    UniqueFd wake;
    // Asks the polling thread to look again (its state's mutex is held).
    void poke() {
        if (!wake) return;
        const uint64_t one = 1;
        ssize_t ignored = ::write(wake.get(), &one, sizeof one);
        (void)ignored;
    }
};

// Shared by the writer handle and its flusher thread. The pipe end is non-blocking, -1 once
// closed; a poke asks the flusher to look again.
struct WriterState : PolledPipe {
    std::mutex mutex;
    QByteArray backlog;        // bytes the pipe did not take yet, written in order
    bool closing = false;      // close() was called while the flusher ran: it closes the fd
    bool flusherRunning = false;
    qint64 dropped = 0;
    // Writes what the pipe takes now; false when the pipe is broken (the mutex is held).
    bool writeSome(const char* data, qsizetype size, qsizetype* written) {
        *written = 0;
        while (*written < size) {
            const ssize_t n = ::write(fd.get(), data + *written, static_cast<size_t>(size - *written));
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno == EAGAIN || errno == EWOULDBLOCK;
            }
            *written += n;
        }
        return true;
    }
    // The pipe is broken or closed: nothing more is written (a backlog left counts as dropped), and
    // both descriptors are given back (the mutex is held; the flusher is not running or is the caller).
    void shut() {
        fd.reset();
        wake.reset();
        dropped += backlog.size();
        backlog.clear();
        backlog.squeeze();
    }
};

// Writes the backlog as the reader takes it, and ends when it is empty, the pipe breaks or the
// writer is closed.
void flusherLoop(std::shared_ptr<WriterState> state) {
    pthread_setname_np(pthread_self(), "vocalynx.flush");
    std::unique_lock lock(state->mutex);
    for (;;) {
        if (state->closing || !state->fd) {
            state->shut();
            state->flusherRunning = false;
            return;
        }
        if (state->backlog.isEmpty()) {
            state->flusherRunning = false;
            return;
        }
        const int fd = state->fd.get();
        lock.unlock();
        pollfd fds[2] = {{state->wake.get(), POLLIN, 0}, {fd, POLLOUT, 0}};
        const int ready = ::poll(fds, 2, -1);
        lock.lock();
        if (ready < 0) {
            if (errno == EINTR) continue;
            state->shut();
            state->flusherRunning = false;
            return;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t count = 0;
            ssize_t ignored = ::read(state->wake.get(), &count, sizeof count);
            (void)ignored;
        }
        if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            state->shut();  // the reader is gone
            continue;
        }
        if (!(fds[1].revents & POLLOUT) || state->closing) continue;
        qsizetype written = 0;
        const bool ok = state->writeSome(state->backlog.constData(), state->backlog.size(), &written);
        state->backlog.remove(0, written);
        if (!ok) state->shut();
    }
}

// The pipe's descriptor is non-blocking, so that no write ever waits for the reader: what the pipe
// cannot take at once joins a backlog of at most backlogLimit bytes, which a flusher thread
// (running only while there is a backlog) writes as the reader makes room. A chunk that does not
// fit is dropped whole, so the bytes that do arrive stay in their order and framing.
class FdWriter final : public PipeWriter {
public:
    static constexpr qsizetype backlogLimit = 1024 * 1024;

    explicit FdWriter(UniqueFd fd) : state_(std::make_shared<WriterState>()) {
        state_->fd = std::move(fd);
        state_->wake.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    }
    ~FdWriter() override { close(); }

    bool write(const QByteArray& bytes) override {
        std::lock_guard lock(state_->mutex);
        if (!state_->fd || state_->closing) return false;
        if (!state_->backlog.isEmpty()) {
            if (state_->backlog.size() + bytes.size() > backlogLimit) {
                state_->dropped += bytes.size();
                return false;
            }
            state_->backlog += bytes;
            return true;
        }
        qsizetype written = 0;
        if (!state_->writeSome(bytes.constData(), bytes.size(), &written)) {
            state_->shut();
            return false;
        }
        if (written == bytes.size()) return true;
        // The rest of a chunk the pipe took part of is always kept, so that no chunk arrives cut.
        state_->backlog = bytes.mid(written);
        if (!state_->flusherRunning) {
            state_->flusherRunning = true;
            std::thread(flusherLoop, state_).detach();
        } else {
            state_->poke();
        }
        return true;
    }

    void close() override {
        std::lock_guard lock(state_->mutex);
        if (state_->flusherRunning) {
            // The flusher may be polling the descriptor: it closes it itself, at once.
            state_->closing = true;
            state_->poke();
        } else {
            state_->shut();
        }
    }

    qint64 droppedBytes() const override {
        std::lock_guard lock(state_->mutex);
        return state_->dropped;
    }

private:
    std::shared_ptr<WriterState> state_;
};

// ---- standard output and error ----

// Shared by the reader handle and its thread, so that either may go first. A poke says a handler
// was set or removed, or the handle went away.
struct ReaderState : PolledPipe {
    std::mutex mutex;
    std::condition_variable settled;  // finished became true, or the handler changed
    PipeReader::Handler handler;
    bool closed = false;
    bool finished = false;  // the reader thread has stopped (end of file, error or closed)
    // What was still in the pipe when its writer went away while no handler was set; the next
    // handler gets it.
    QByteArray leftover;
};

constexpr qsizetype leftoverLimit = 1024 * 1024;

void readerLoop(std::shared_ptr<ReaderState> state) {
    pthread_setname_np(pthread_self(), "vocalynx.read");
    std::vector<char> buffer(64 * 1024);
    // The thread ends at the end of the pipe, whatever handler is set, and gives back both
    // descriptors: a process that has ended holds no thread and no descriptor, even while someone
    // keeps its handle.
    struct Finish {
        ReaderState& s;
        ~Finish() {
            std::lock_guard lock(s.mutex);
            s.fd.reset();
            s.wake.reset();
            s.finished = true;
            s.settled.notify_all();
        }
    } finish{*state};
    for (;;) {
        PipeReader::Handler handler;
        {
            std::lock_guard lock(state->mutex);
            if (state->closed) return;
            handler = state->handler;
        }
        // Without a handler no input is asked for, but a hang-up or an error is reported anyway.
        pollfd fds[2] = {{state->wake.get(), POLLIN, 0}, {state->fd.get(), static_cast<short>(handler ? POLLIN : 0), 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t count = 0;
            ssize_t ignored = ::read(state->wake.get(), &count, sizeof count);
            (void)ignored;
            continue;  // look at the handler again
        }
        const short events = fds[1].revents;
        if (!handler) {
            if (!(events & (POLLHUP | POLLERR | POLLNVAL))) continue;
            // The writer is gone and no one reads: keep what is left for a later handler, and end.
            QByteArray rest;
            for (;;) {
                const ssize_t n = ::read(state->fd.get(), buffer.data(), buffer.size());
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                if (rest.size() < leftoverLimit)
                    rest.append(buffer.data(), std::min<qsizetype>(n, leftoverLimit - rest.size()));
            }
            std::lock_guard lock(state->mutex);
            state->leftover += rest;
            return;
        }
        if (!(events & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) continue;
        const ssize_t n = ::read(state->fd.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return;
        }
        if (n == 0) return;  // end of file: the writer is gone
        handler(QByteArray(buffer.data(), static_cast<qsizetype>(n)));
    }
}

class FdReader final : public PipeReader {
public:
    explicit FdReader(UniqueFd fd) : state_(std::make_shared<ReaderState>()) {
        state_->fd = std::move(fd);
        state_->wake.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        std::thread(readerLoop, state_).detach();
    }
    ~FdReader() override {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
        state_->handler = nullptr;
        state_->settled.notify_all();
        state_->poke();
    }
    void setReadHandler(Handler handler) override {
        QByteArray leftover;
        {
            std::lock_guard lock(state_->mutex);
            if (handler && !state_->leftover.isEmpty()) leftover.swap(state_->leftover);
            state_->handler = handler;
            state_->settled.notify_all();
            state_->poke();
        }
        // The caller may hold a lock the handler takes: the rest is delivered on a thread of its own.
        if (!leftover.isEmpty()) std::thread([handler = std::move(handler), leftover] { handler(leftover); }).detach();
    }
    const std::shared_ptr<ReaderState>& state() const { return state_; }

private:
    std::shared_ptr<ReaderState> state_;
};

// ---- the process ----

struct ProcessState {
    std::mutex mutex;
    pid_t pid = -1;
    bool running = true;
    bool exited = false;
    std::function<void()> onExit;
};

class PosixChildProcess final : public ChildProcess {
public:
    PosixChildProcess(pid_t pid, UniqueFd in, UniqueFd out, UniqueFd err)
        : state_(std::make_shared<ProcessState>()),
          stdin_(std::make_shared<FdWriter>(std::move(in))),
          stdout_(std::make_shared<FdReader>(std::move(out))),
          stderr_(std::make_shared<FdReader>(std::move(err))) {
        state_->pid = pid;
        std::thread(watch, state_, stdin_, stdout_->state(), stderr_->state()).detach();
    }

    pid_t pid() const override { return state_->pid; }
    bool isRunning() const override {
        std::lock_guard lock(state_->mutex);
        return state_->running;
    }
    std::shared_ptr<PipeWriter> standardInput() override { return stdin_; }
    std::shared_ptr<PipeReader> standardOutput() override { return stdout_; }
    std::shared_ptr<PipeReader> standardError() override { return stderr_; }

    void setTerminationHandler(std::function<void()> handler) override {
        bool runNow = false;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->exited && handler)
                runNow = true;
            else
                state_->onExit = handler;
        }
        if (runNow) std::thread(std::move(handler)).detach();
    }

    void terminate() override {
        // Under the lock the process is known not to be reaped yet, so the identifier is still ours.
        std::lock_guard lock(state_->mutex);
        if (state_->running) ::kill(state_->pid, SIGTERM);
    }

private:
    static void watch(std::shared_ptr<ProcessState> state, std::weak_ptr<FdWriter> in,
                      std::shared_ptr<ReaderState> out, std::shared_ptr<ReaderState> err) {
        pthread_setname_np(pthread_self(), "vocalynx.reap");
        siginfo_t info{};
        // Wait without reaping, so that terminate() never signals a recycled identifier.
        while (::waitid(P_PID, static_cast<id_t>(state->pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
        }
        std::function<void()> onExit;
        {
            std::lock_guard lock(state->mutex);
            state->running = false;
            int status = 0;
            while (::waitpid(state->pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        // No one is left to read its input: the pipe goes, also while its handle is kept.
        if (auto writer = in.lock()) writer->close();
        // What the process wrote before it ended reaches the read handlers before the exit is
        // reported (a failure message followed by the exit, say). A pipe that some other process
        // still holds open is waited for at most a second.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        for (const auto& reader : {out, err}) {
            std::unique_lock lock(reader->mutex);
            reader->settled.wait_until(lock, deadline, [&] { return reader->finished || !reader->handler; });
        }
        {
            std::lock_guard lock(state->mutex);
            state->exited = true;
            onExit = std::move(state->onExit);
            state->onExit = nullptr;
        }
        if (onExit) onExit();
    }

    std::shared_ptr<ProcessState> state_;
    std::shared_ptr<FdWriter> stdin_;
    std::shared_ptr<FdReader> stdout_;
    std::shared_ptr<FdReader> stderr_;
};

// A pipe's two ends, made close-on-exec; each end is closed with the pipe unless handed over.
struct Pipe {
    UniqueFd read, write;
    // 0, or the errno of a pipe that could not be made.
    int open() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return errno;
        read.reset(ends[0]);
        write.reset(ends[1]);
        return 0;
    }
};

std::vector<std::string> utf8List(const QStringList& list) {
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(list.size()));
    for (const QString& s : list) out.push_back(s.toStdString());
    return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

PosixProcessLauncher::PosixProcessLauncher() {
    ::signal(SIGPIPE, SIG_IGN);
    spawner_ = std::thread([this] { spawnerLoop(); });
}

PosixProcessLauncher::~PosixProcessLauncher() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    spawner_.join();
}

void PosixProcessLauncher::spawnerLoop() {
    pthread_setname_np(pthread_self(), "vocalynx.spawn");
    // Children inherit the signal mask; the spawner keeps it empty so they start clean.
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !requests_.empty(); });
        if (requests_.empty()) return;
        auto request = std::move(requests_.front());
        requests_.pop_front();
        lock.unlock();
        request();
        lock.lock();
    }
}

PosixProcessLauncher::Spawned PosixProcessLauncher::spawn(const LaunchCommand& command) {
    // Everything the child needs is prepared before the fork: after it only async-signal-safe calls.
    std::vector<std::string> argStrings = utf8List(QStringList{command.executable} + command.arguments);
    std::vector<std::string> envStrings;
    for (auto it = command.environment.cbegin(); it != command.environment.cend(); ++it)
        envStrings.push_back((it.key() + QLatin1Char('=') + it.value()).toStdString());
    const std::string path = command.executable.toStdString();

    auto work = [&]() -> Spawned {
        // The three standard streams, and the pipe on which a failed exec reports its errno (its
        // writing end closes at a successful exec). Whatever is not handed over closes on return.
        Pipe in, out, err, report;
        for (Pipe* pipe : {&in, &out, &err, &report})
            if (const int e = pipe->open()) return Spawned{.error = e};
        std::vector<char*> argv = pointers(argStrings);
        std::vector<char*> envp = pointers(envStrings);
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) ::_exit(127);  // the parent died before the request took hold
            ::signal(SIGPIPE, SIG_DFL);
            // The child never returns from here (it execs or _exits), so no owner closes anything in it.
            ::dup2(in.read.get(), STDIN_FILENO);
            ::dup2(out.write.get(), STDOUT_FILENO);
            ::dup2(err.write.get(), STDERR_FILENO);
            const int reportFd = report.write.get();
#ifdef SYS_close_range
            // Only the three standard streams and the report pipe (close-on-exec) stay open.
            ::syscall(SYS_close_range, 3u, static_cast<unsigned>(reportFd) - 1u, 0u);
            ::syscall(SYS_close_range, static_cast<unsigned>(reportFd) + 1u, ~0u, 0u);
#endif
            ::execve(path.c_str(), argv.data(), envp.data());
            const int e = errno;
            ssize_t ignored = ::write(reportFd, &e, sizeof e);
            (void)ignored;
            ::_exit(127);
        }
        const int forkError = pid < 0 ? errno : 0;
        // The child's ends are the child's now; the report's writing end must be closed here for its
        // reading end to see the end of file at a successful exec.
        in.read.reset(), out.write.reset(), err.write.reset(), report.write.reset();
        if (pid < 0) return Spawned{.error = forkError};
        int execError = 0;
        ssize_t n;
        while ((n = ::read(report.read.get(), &execError, sizeof execError)) < 0 && errno == EINTR) {
        }
        report.read.reset();
        if (n > 0) {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return Spawned{.error = execError ? execError : EIO};
        }
        return Spawned{.pid = pid, .in = std::move(in.write), .out = std::move(out.read), .err = std::move(err.read)};
    };

    std::packaged_task<Spawned()> task(work);
    std::future<Spawned> outcome = task.get_future();
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return Spawned{.error = ESHUTDOWN};
        requests_.push_back([&task] { task(); });
    }
    wake_.notify_all();
    return outcome.get();
}

std::shared_ptr<ChildProcess> PosixProcessLauncher::launch(const LaunchCommand& command, QString* error) {
    Spawned s = spawn(command);
    if (s.pid < 0) {
        if (error) *error = command.executable + QStringLiteral(": ") + errnoText(s.error);
        return nullptr;
    }
    // The reading ends are watched with poll; the writing end never blocks (see FdWriter).
    const int flags = ::fcntl(s.in.get(), F_GETFL);
    if (flags >= 0) ::fcntl(s.in.get(), F_SETFL, flags | O_NONBLOCK);
    return std::make_shared<PosixChildProcess>(s.pid, std::move(s.in), std::move(s.out), std::move(s.err));
}

std::optional<RunOutput> PosixProcessLauncher::run(const QString& executable, const QStringList& arguments,
                                                   QString* error) {
    LaunchCommand command{executable, arguments, {}};
    for (char** e = environ; e && *e; ++e) {
        const QString entry = QString::fromLocal8Bit(*e);
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        if (eq > 0) command.environment.insert(entry.left(eq), entry.mid(eq + 1));
    }
    Spawned s = spawn(command);
    if (s.pid < 0) {
        if (error) *error = executable + QStringLiteral(": ") + errnoText(s.error);
        return std::nullopt;
    }
    s.in.reset();
    RunOutput result;
    char buffer[4096];
    // Plain blocking reads: standard output to its end, then standard error to its end. (The
    // programs run this way print a line; one that filled the standard-error pipe before closing
    // its standard output would wait for the reader.)
    for (UniqueFd* fd : {&s.out, &s.err}) {
        for (;;) {
            const ssize_t n = ::read(fd->get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            if (fd == &s.out) result.standardOutput.append(buffer, n);
        }
    }
    s.out.reset();
    s.err.reset();
    int status = 0;
    while (::waitpid(s.pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace vocalynx
