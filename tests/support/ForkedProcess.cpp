#include "ForkedProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

namespace vocalynx::test {

namespace {

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// The strings and the null-ended pointer array execve takes, made before the fork.
struct CStrings {
    std::vector<std::string> strings;
    std::vector<char*> pointers;
    explicit CStrings(const QStringList& list) {
        for (const QString& s : list) strings.push_back(s.toStdString());
        for (std::string& s : strings) pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
};

QString resolved(const QString& program) {
    if (program.contains(QLatin1Char('/'))) return program;
    const QString found = QStandardPaths::findExecutable(program);
    return found.isEmpty() ? program : found;
}

// Forks and executes; in the child only async-signal-safe calls. stdinFd, stdoutFd and stderrFd
// (-1: inherited) become the child's standard streams. The child's pid, or -1 when it could not
// be executed.
pid_t forkExec(const QString& program, const QStringList& arguments, const QStringList& environment, int stdinFd,
               int stdoutFd, int stderrFd) {
    const std::string path = resolved(program).toStdString();
    CStrings argv(QStringList{program} + arguments);
    CStrings envp(environment);
    // A failed exec reports its errno here; a successful one closes the writing end.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &dfl, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (stdinFd >= 0) ::dup2(stdinFd, 0);
        if (stdoutFd >= 0) ::dup2(stdoutFd, 1);
        if (stderrFd >= 0) ::dup2(stderrFd, 2);
        ::execve(path.c_str(), argv.pointers.data(), envp.pointers.data());
        const int error = errno;
        ssize_t ignored = ::write(report[1], &error, sizeof error);
        (void)ignored;
        ::_exit(127);
    }
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        return -1;
    }
    int error = 0;
    ssize_t n;
    while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n > 0) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return -1;
    }
    return pid;
}

}  // namespace

ForkedProcess::~ForkedProcess() {
    if (started_ && !finished_) {
        kill();
        reap(true);
    }
    stopWriter();
    closeFd(in_);
    closeFd(out_);
}

void ForkedProcess::start(const QString& program, const QStringList& arguments) {
    // A write to a pipe whose reader has gone fails with EPIPE instead of ending the tests.
    ::signal(SIGPIPE, SIG_IGN);
    int inPipe[2] = {-1, -1};
    int outPipe[2] = {-1, -1};
    int inputFile = -1;
    if (!inputFile_.isEmpty()) {
        inputFile = ::open(QFile::encodeName(inputFile_).constData(), O_RDONLY | O_CLOEXEC);
        if (inputFile < 0) return;
    } else if (::pipe2(inPipe, O_CLOEXEC) != 0) {
        return;
    }
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        closeFd(inPipe[0]);
        closeFd(inPipe[1]);
        closeFd(inputFile);
        return;
    }
    pid_ = forkExec(program, arguments, environment_.toStringList(), inputFile >= 0 ? inputFile : inPipe[0],
                    outPipe[1], merged_ ? outPipe[1] : -1);
    closeFd(inputFile);
    closeFd(inPipe[0]);
    closeFd(outPipe[1]);
    if (pid_ < 0) {
        closeFd(inPipe[1]);
        closeFd(outPipe[0]);
        return;
    }
    started_ = true;
    in_ = inPipe[1];
    out_ = outPipe[0];
    ::fcntl(out_, F_SETFL, ::fcntl(out_, F_GETFL) | O_NONBLOCK);
}

bool ForkedProcess::waitForStarted(int) const { return started_; }

bool ForkedProcess::startDetached(const QString& program, const QStringList& arguments) {
    // A shell of our own starts the program in the background and exits at once, leaving it to
    // the system's reaper; the program gets none of our descriptors.
    ForkedProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                QStringList{QStringLiteral("-c"), QStringLiteral("\"$@\" </dev/null >/dev/null 2>&1 &"),
                            QStringLiteral("sh"), program} +
                    arguments);
    return shell.waitForFinished(10000) && shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0;
}

bool ForkedProcess::reap(bool block) {
    if (!started_ || finished_) return finished_;
    int status = 0;
    pid_t r;
    while ((r = ::waitpid(pid_, &status, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    if (r != pid_) return false;
    finished_ = true;
    crashed_ = WIFSIGNALED(status);
    exitCode_ = crashed_ ? WTERMSIG(status) : WEXITSTATUS(status);
    return true;
}

QProcess::ProcessState ForkedProcess::state() {
    return started_ && !reap(false) ? QProcess::Running : QProcess::NotRunning;
}

void ForkedProcess::terminate() {
    if (started_ && !finished_) ::kill(pid_, SIGTERM);
}

void ForkedProcess::kill() {
    if (started_ && !finished_) ::kill(pid_, SIGKILL);
}

qint64 ForkedProcess::write(const QByteArray& bytes) {
    std::lock_guard lock(mutex_);
    if (!started_ || closing_ || in_ < 0) return -1;
    pending_ += bytes;
    if (!writer_.joinable()) writer_ = std::thread([this] { writerLoop(); });
    wake_.notify_all();
    return bytes.size();
}

void ForkedProcess::closeWriteChannel() {
    std::lock_guard lock(mutex_);
    closing_ = true;
    if (!writer_.joinable()) {
        closeFd(in_);
        return;
    }
    wake_.notify_all();
}

void ForkedProcess::writerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return !pending_.isEmpty() || closing_; });
        if (pending_.isEmpty()) break;  // closing, with everything written
        const QByteArray chunk = std::exchange(pending_, {});
        const int fd = in_;
        lock.unlock();
        qsizetype done = 0;
        bool broken = false;
        while (done < chunk.size()) {
            const ssize_t n = ::write(fd, chunk.constData() + done, static_cast<size_t>(chunk.size() - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                broken = true;  // the reader has gone
                break;
            }
            done += n;
        }
        lock.lock();
        if (broken) break;
    }
    closeFd(in_);
}

void ForkedProcess::stopWriter() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        wake_.notify_all();
    }
    if (writer_.joinable()) writer_.join();
}

bool ForkedProcess::readNow() {
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n > 0) {
            output_.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0;  // EAGAIN: nothing more now; 0: the end of the pipe
    }
}

bool ForkedProcess::waitForReadyRead(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    const qsizetype before = output_.size();
    for (;;) {
        if (out_ >= 0 && !readNow()) closeFd(out_);
        if (output_.size() > before) return true;
        if (reap(false) || deadline.hasExpired()) return false;
        pause(deadline);
    }
}

void ForkedProcess::pause(const QDeadlineTimer& deadline) {
    // Short steps: the child's end is not seen on the pipe, which a program it started may hold.
    const auto ms = static_cast<int>(std::min<qint64>(20, deadline.remainingTime()));
    if (out_ >= 0) {
        pollfd fd{out_, POLLIN, 0};
        ::poll(&fd, 1, ms);
    } else {
        ::usleep(static_cast<useconds_t>(ms) * 1000);
    }
}

bool ForkedProcess::waitForFinished(int timeoutMs) {
    if (!started_) return false;
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (out_ >= 0 && !readNow()) closeFd(out_);
        if (reap(false)) {
            if (out_ >= 0) readNow();
            return true;
        }
        if (deadline.hasExpired()) return false;
        pause(deadline);
    }
}

QByteArray ForkedProcess::readAll() {
    if (out_ >= 0 && !readNow()) closeFd(out_);
    return std::exchange(output_, {});
}

}  // namespace vocalynx::test
