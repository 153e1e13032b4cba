#pragma once
// A helper program started by plain fork and exec, with the part of QProcess's blocking interface
// the tests use. QProcess starts its child with clone(CLONE_VM|CLONE_VFORK), which the thread
// sanitizer does not follow: the child runs on the parent thread's sanitizer state until its exec
// and leaves it no longer recording that thread's locking. A plain fork it follows, so tests that
// hand work between threads can start programs with this one and still run under it.
//
// Standard output (with standard error merged into it, or standard error left to the test's own)
// is read while the caller waits; writes to standard input are made by a thread of the process's
// own, so that a long tone given to pacat never holds up the test while the player takes it.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace vocalynx::test {

class ForkedProcess {
public:
    ForkedProcess() = default;
    ForkedProcess(const ForkedProcess&) = delete;
    ForkedProcess& operator=(const ForkedProcess&) = delete;
    // Kills a child still running and waits for it.
    ~ForkedProcess();

    void setProcessChannelMode(QProcess::ProcessChannelMode mode) { merged_ = mode == QProcess::MergedChannels; }
    void setProcessEnvironment(const QProcessEnvironment& environment) { environment_ = environment; }
    // The child reads this file as its standard input instead of a pipe.
    void setStandardInputFile(const QString& path) { inputFile_ = path; }

    // Starts the program (looked up on the test's PATH unless it is a path) and returns once it has
    // been executed or has failed to be.
    void start(const QString& program, const QStringList& arguments = {});
    bool waitForStarted(int timeoutMs = 30000) const;
    // Starts the program with no pipes of ours, not as our child: it outlives this object.
    static bool startDetached(const QString& program, const QStringList& arguments = {});

    QProcess::ProcessState state();
    // The child's pid, kept after its end (0 before a start): a signal sent to a child that has
    // already ended never reaches our own process group, as a 0 would.
    qint64 processId() const { return started_ ? pid_ : 0; }
    QProcess::ExitStatus exitStatus() const { return crashed_ ? QProcess::CrashExit : QProcess::NormalExit; }
    // The exit code, or the signal that ended the child.
    int exitCode() const { return exitCode_; }

    void terminate();
    void kill();

    // Queues the bytes for the child's standard input.
    qint64 write(const QByteArray& bytes);
    // Closes standard input once what was queued has been written.
    void closeWriteChannel();

    // Waits until output arrives (true) or the deadline passes or the child ends (false).
    bool waitForReadyRead(int timeoutMs = 30000);
    // Waits until the child has ended, reading its output meanwhile.
    bool waitForFinished(int timeoutMs = 30000);
    QByteArray readAll();
    QByteArray readAllStandardOutput() { return readAll(); }
    // The reading end of standard output while it is open (-1 after its end), for a caller that
    // watches it with an event loop.
    int standardOutputDescriptor() const { return out_; }

private:
    // Reads what the pipe holds now; false at its end.
    bool readNow();
    // Reaps the child if it has ended; true once it has.
    bool reap(bool block);
    // Waits a short step for output or the child's end.
    void pause(const QDeadlineTimer& deadline);
    void writerLoop();
    void stopWriter();

    bool merged_ = false;
    QProcessEnvironment environment_ = QProcessEnvironment::systemEnvironment();
    QString inputFile_;

    pid_t pid_ = -1;
    bool started_ = false;
    bool finished_ = false;
    bool crashed_ = false;
    int exitCode_ = 0;
    int out_ = -1;  // the reading end of standard output
    QByteArray output_;

    std::mutex mutex_;  // guards the input queue below
    std::condition_variable wake_;
    int in_ = -1;  // the writing end of standard input, owned by the writer thread once it runs
    QByteArray pending_;
    bool closing_ = false;
    std::thread writer_;
};

}  // namespace vocalynx::test
