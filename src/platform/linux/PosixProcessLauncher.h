#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/ChildProcess.h"
#include "platform/linux/UniqueFd.h"

namespace vocalynx {

// Child processes by fork/exec with three pipes (pipe2, close-on-exec), each reading end served by
// a background reader thread and each child watched by a thread that reaps it.
//
// Every child is forked from one spawner thread that lives as long as this object, and asks for
// SIGTERM when that thread ends (PR_SET_PDEATHSIG). The parent-death signal follows the thread that
// forked, not the process, so forking from short-lived worker threads would kill children early;
// forking from the spawner means children end when the application ends, however it ends (SIGKILL
// included). Creating the launcher also makes writes to a pipe whose reader is gone fail with EPIPE
// instead of raising SIGPIPE (the disposition is process-wide; children get the default back).
class PosixProcessLauncher final : public ProcessLauncher {
public:
    PosixProcessLauncher();
    ~PosixProcessLauncher() override;

    std::shared_ptr<ChildProcess> launch(const LaunchCommand& command, QString* error) override;
    std::optional<RunOutput> run(const QString& executable, const QStringList& arguments, QString* error) override;

private:
    struct Spawned {
        pid_t pid = -1;
        UniqueFd in{}, out{}, err{};  // the parent's ends
        int error = 0;                // errno of a failed start
    };
    // Forks on the spawner thread and waits for the outcome.
    Spawned spawn(const LaunchCommand& command);
    void spawnerLoop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> requests_;
    bool stopping_ = false;
    std::thread spawner_;
};

}  // namespace vocalynx
