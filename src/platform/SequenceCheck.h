#pragma once
// Debug-build checks that code runs on the thread or queue it belongs to. Entry points that may only
// be called on the main thread say so with `assertOnSequence(runtime.mainQueue, "Class::member")`;
// a call from another thread then aborts at once with the name, instead of racing silently. Release
// builds compile the checks away.

#include <cstdio>
#include <cstdlib>

#include "platform/Executor.h"

namespace vocalynx {

#ifdef NDEBUG
inline constexpr bool kSequenceChecks = false;
#else
inline constexpr bool kSequenceChecks = true;
#endif

[[noreturn]] inline void failSequenceCheck(const char* where) {
    std::fprintf(stderr, "[Vocalynx] %s was called off the thread it belongs to\n", where);
    std::fflush(stderr);
    std::abort();
}

inline void assertOnSequence(const Executor& sequence, const char* where) {
    if constexpr (kSequenceChecks) {
        if (!sequence.isCurrent()) failSequenceCheck(where);
    }
}

}  // namespace vocalynx
