#pragma once
// What the stand-in SDK was asked to do, for the tests.

#include <map>
#include <string>
#include <vector>

#include "sentry.h"

namespace sentry_standin {

struct Options {
    std::string dsn, environment, release, databasePath;
    int autoSessionTracking = -1;  // -1: never set
    int appHangTracking = -1;      // -1: never set
    uint64_t appHangTimeoutMs = 0;
    sentry_event_function_t beforeSend = nullptr;
    void* beforeSendClosure = nullptr;
};

struct Recorded {
    int initCalls = 0;
    int closeCalls = 0;
    Options options;                                 // those of the last sentry_init
    std::map<std::string, std::string> tags;
    std::map<std::string, std::string> contexts;     // described, see describe()
    std::vector<std::string> breadcrumbs;            // described
    int appHangHeartbeats = 0;
};

Recorded& recorded();
// Forgets every recorded call.
void reset();

// A value as text with its types: {"a":i32:1,"b":u64:2,"c":"text","d":f64:0.5,"e":{}}, keys sorted;
// null is "null".
std::string describe(sentry_value_t value);
// Runs the filter that sentry_init received on the event (which it owns), as the SDK does
// before sending; returns what the filter returned.
sentry_value_t runBeforeSend(sentry_value_t event);
// Number of value nodes alive, to see that nothing is leaked or freed twice.
long liveNodes();

}  // namespace sentry_standin
