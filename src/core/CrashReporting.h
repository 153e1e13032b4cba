#pragma once
#include "platform/InfoDictionary.h"
#include "platform/Logger.h"

namespace vocalynx {

// Crash-reporting set-up: reporting runs only when the build carries a data source name.
class CrashReporting {
public:
    // Returns whether reporting was started.
    static bool configure(const InfoDictionary& info, Logger& log);
};

}  // namespace vocalynx
