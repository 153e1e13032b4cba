#pragma once
#include <chrono>

#include "platform/Executor.h"

namespace vocalynx {

using MonoTime = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;

// Time as the system sees it: a monotonic clock for intervals, a wall clock for timestamps.
class Clock {
public:
    virtual ~Clock() = default;
    virtual MonoTime now() const = 0;
    virtual WallTime wallNow() const = 0;
    // Blocks the calling thread (the virtual clock just moves on).
    virtual void sleepFor(Duration d) = 0;
};

inline double secondsBetween(MonoTime from, MonoTime to) {
    return std::chrono::duration<double>(to - from).count();
}

inline MonoTime operator+(MonoTime t, Duration d) {
    return t + std::chrono::duration_cast<std::chrono::steady_clock::duration>(d);
}

}  // namespace vocalynx
