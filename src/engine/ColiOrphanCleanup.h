#pragma once
// At launch, speech processes that an earlier run left behind are ended: processes whose command
// line holds the located program path and "asr-stream", and whose parent is process 1, this
// process, or one of this process's ancestors. On desktops an orphan is handed to the session's
// subreaper (the user's service manager, a terminal, a launcher) rather than to process 1; the
// subreaper that took an earlier run's orphans is an ancestor of the next run as well.

#include <QString>
#include <functional>
#include <vector>

#include "engine/ColiCommand.h"
#include "platform/ProcessTable.h"
#include "platform/Runtime.h"

namespace vocalynx {

class ColiOrphanCleanup {
public:
    // Called for every process that is signalled (crash-reporting breadcrumb and tag).
    using PidObserver = std::function<void(pid_t pid)>;

    ColiOrphanCleanup(Runtime& runtime, ProcessTable& table, const ColiLocator& locator, PidObserver observer = {});

    // The selection alone: identifiers in table order.
    static std::vector<pid_t> selectOrphans(const std::vector<ProcessEntry>& table, pid_t self,
                                            const QString& coliPath);

    // Main thread, blocking (0.3 s when anything was signalled).
    void cleanupOrphanedColiProcesses();

private:
    Runtime& runtime_;
    ProcessTable& table_;
    const ColiLocator& locator_;
    PidObserver observer_;
};

}  // namespace vocalynx
