#pragma once
#include <sys/types.h>

#include <vector>

namespace vocalynx {

// Other running copies of this program, and the polite request to end one.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;
    // Every other process running the same executable file as this one.
    virtual std::vector<pid_t> otherInstances() = 0;
    virtual void requestTerminate(pid_t pid) = 0;
};

}  // namespace vocalynx
