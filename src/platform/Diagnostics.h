#pragma once
#include <QString>
#include <mutex>
#include <optional>

#include "platform/Clock.h"
#include "platform/Logger.h"

namespace vocalynx {

// The diagnostics timestamp "ts=<ISO 8601 UTC with milliseconds> uptime=<s.s>s" and the
// state-diagnostics line. The uptime counts from the first timestamp formatted in the run.
class Diagnostics {
public:
    explicit Diagnostics(Logger& log) : log_(log) {}

    QString timestamp(WallTime date);
    // "[Vocalynx][StateDiagnostics] " + timestamp(date) + " " + message.
    void logState(const QString& message, WallTime date);

private:
    Logger& log_;
    std::mutex mutex_;
    std::optional<WallTime> reference_;
};

}  // namespace vocalynx
