#pragma once
// The running copies of the application as a test sets them, and the terminate requests made.

#include <vector>

#include "platform/ProcessTable.h"

namespace vocalynx::test {

class FakeProcessTable final : public ProcessTable {
public:
    std::vector<pid_t> otherInstances() override { return others; }
    void requestTerminate(pid_t pid) override { terminated.push_back(pid); }
    std::vector<pid_t> others;
    std::vector<pid_t> terminated;
};

}  // namespace vocalynx::test
