#pragma once
#include <QString>
#include <sys/types.h>

#include <vector>

namespace vocalynx {

// One running process as the process table shows it.
struct ProcessEntry {
    pid_t pid = 0;
    pid_t parentPid = 0;
    QString commandLine;  // the arguments joined with single spaces
};

// Other running copies of this program, and the polite request to end one; and the whole table
// for the clean-up of speech processes left behind by an earlier run.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;
    // Every other process running the same executable file as this one.
    virtual std::vector<pid_t> otherInstances() = 0;
    virtual void requestTerminate(pid_t pid) = 0;

    virtual pid_t selfPid() { return 0; }
    virtual std::vector<ProcessEntry> processes() { return {}; }
    // SIGKILL.
    virtual void forceKill(pid_t) {}
    // Whether a process with this identifier exists (a signal-0 probe).
    virtual bool exists(pid_t) { return false; }
};

}  // namespace vocalynx
