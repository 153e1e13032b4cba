#pragma once
// Everything a component needs from the running system, handed in by app/ (or by a test).

#include "platform/Clock.h"
#include "platform/Diagnostics.h"
#include "platform/Executor.h"
#include "platform/InfoDictionary.h"
#include "platform/Logger.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"

namespace vocalynx {

struct Runtime {
    Clock& clock;
    MainQueue& main;
    QueueFactory& queues;
    NotificationCenter& notifications;
    Logger& log;
    Diagnostics& diagnostics;
    const InfoDictionary& info;
    const Paths& paths;

    // Convenience: the diagnostics timestamp and state line at the current wall time.
    QString timestampNow() const { return diagnostics.timestamp(clock.wallNow()); }
    void logState(const QString& message) const { diagnostics.logState(message, clock.wallNow()); }
};

}  // namespace vocalynx
