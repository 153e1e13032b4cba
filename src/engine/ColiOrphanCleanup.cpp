#include "engine/ColiOrphanCleanup.h"

#include <QSet>
#include <QMap>
#include <signal.h>

namespace vocalynx {

ColiOrphanCleanup::ColiOrphanCleanup(Runtime& runtime, ProcessTable& table, const ColiLocator& locator,
                                     PidObserver observer)
    : runtime_(runtime), table_(table), locator_(locator), observer_(std::move(observer)) {}

std::vector<pid_t> ColiOrphanCleanup::selectOrphans(const std::vector<ProcessEntry>& table, pid_t self,
                                                    const QString& coliPath) {
    QMap<pid_t, pid_t> parentOf;
    for (const ProcessEntry& e : table) parentOf.insert(e.pid, e.parentPid);
    // Parents an orphan may have: process 1, this process, and this process's ancestors.
    QSet<pid_t> reapers{1, self};
    pid_t ancestor = parentOf.value(self, 0);
    for (int guard = 0; ancestor > 1 && guard < 4096 && !reapers.contains(ancestor); ++guard) {
        reapers.insert(ancestor);
        ancestor = parentOf.value(ancestor, 0);
    }
    std::vector<pid_t> out;
    for (const ProcessEntry& e : table) {
        if (e.pid <= 0 || e.pid == self) continue;
        if (!e.commandLine.contains(coliPath) || !e.commandLine.contains(QStringLiteral("asr-stream"))) continue;
        if (reapers.contains(e.parentPid)) out.push_back(e.pid);
    }
    return out;
}

void ColiOrphanCleanup::cleanupOrphanedColiProcesses() {
    const std::optional<QString> path = locator_.locateColi();
    if (!path) return;
    const std::vector<pid_t> orphans = selectOrphans(table_.processes(), table_.selfPid(), *path);
    for (pid_t pid : orphans) {
        runtime_.log.line(QStringLiteral("[Vocalynx] Cleaning orphaned coli process pid=") + QString::number(pid));
        if (observer_) observer_(pid);
        table_.requestTerminate(pid);
    }
    if (orphans.empty()) return;
    runtime_.clock.sleepFor(Duration(0.3));
    for (pid_t pid : orphans)
        if (table_.exists(pid)) table_.forceKill(pid);
}

}  // namespace vocalynx
