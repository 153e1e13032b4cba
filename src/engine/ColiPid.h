#pragma once
#include <atomic>

namespace vocalynx {

// The process identifier of the persistent speech process, 0 when none. Process-wide so that the
// fatal-signal handler can read it; it is only ever read there, never locked.
inline std::atomic<int> persistentColiPid{0};

}  // namespace vocalynx
