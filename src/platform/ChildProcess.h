#pragma once
// Child processes with three pipes: the speech program runs as one, and short helper programs
// ("/usr/bin/which") are run to completion.

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>

namespace vocalynx {

// The writing end of a child's standard-input pipe.
class PipeWriter {
public:
    virtual ~PipeWriter() = default;
    // Hands the whole chunk to the pipe without ever waiting for the reader: what the pipe cannot
    // take at once is kept in a bounded backlog and written, in order, as the reader makes room.
    // False when the chunk was not taken: the pipe is closed or its reader gone, or the backlog is
    // full (the chunk is then dropped whole and counted in droppedBytes).
    virtual bool write(const QByteArray& bytes) = 0;
    // Closes the pipe at once (a backlog not yet written is dropped and counted); later writes fail.
    // Idempotent, and never waits for a write or for the reader.
    virtual void close() = 0;
    // Bytes dropped so far because the reader did not keep up.
    virtual qint64 droppedBytes() const { return 0; }
};

// The reading end of a child's standard-output or standard-error pipe.
class PipeReader {
public:
    using Handler = std::function<void(const QByteArray& bytes)>;
    virtual ~PipeReader() = default;
    // The handler runs on a background thread with each chunk of bytes that becomes available.
    // While no handler is set the bytes stay in the pipe. A null handler removes it; a call that
    // is already running may still finish. Reading ends at the end of the pipe (its writer is
    // gone), whether or not a handler is set; what was left in it then is given to the next
    // handler that is set.
    virtual void setReadHandler(Handler handler) = 0;
};

class ChildProcess {
public:
    virtual ~ChildProcess() = default;
    virtual pid_t pid() const = 0;
    virtual bool isRunning() const = 0;
    virtual std::shared_ptr<PipeWriter> standardInput() = 0;
    virtual std::shared_ptr<PipeReader> standardOutput() = 0;
    virtual std::shared_ptr<PipeReader> standardError() = 0;
    // Runs once on a background thread when the process has exited (at once when it already has).
    // A null handler removes it.
    virtual void setTerminationHandler(std::function<void()> handler) = 0;
    // Sends SIGTERM.
    virtual void terminate() = 0;
};

struct LaunchCommand {
    QString executable;
    QStringList arguments;
    QMap<QString, QString> environment;  // the child's whole environment
};

// What a helper program run to completion left behind.
struct RunOutput {
    QByteArray standardOutput;
    int exitCode = -1;
};

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts the command with three pipes. Null, with the reason in error, when it cannot start.
    virtual std::shared_ptr<ChildProcess> launch(const LaunchCommand& command, QString* error) = 0;
    // Runs a program with the inherited environment, standard output and standard error each to a
    // pipe, and waits for it to exit. None when it cannot be started.
    virtual std::optional<RunOutput> run(const QString& executable, const QStringList& arguments,
                                         QString* error) = 0;
};

}  // namespace vocalynx
