#pragma once
#include "platform/ProcessTable.h"

namespace vocalynx {

// Reads /proc: a process is another instance when its executable is the same file as ours
// (same device and inode). Processes whose executable cannot be read are never taken.
class ProcProcessTable final : public ProcessTable {
public:
    std::vector<pid_t> otherInstances() override;
    void requestTerminate(pid_t pid) override;

    pid_t selfPid() override;
    // Every process whose status can be read, with /proc/PID/cmdline as its command line.
    std::vector<ProcessEntry> processes() override;
    void forceKill(pid_t pid) override;
    bool exists(pid_t pid) override;
};

}  // namespace vocalynx
