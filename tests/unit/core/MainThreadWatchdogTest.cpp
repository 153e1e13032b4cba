#include <gtest/gtest.h>

#include "FakeDictationControl.h"
#include "TestRuntime.h"
#include "core/MainThreadWatchdog.h"

using namespace vocalynx;
using namespace vocalynx::test;

// The pings themselves block on the real main thread and are exercised by the integration tests;
// here only the start-up, which must queue exactly one ping chain however often it is called.
TEST(MainThreadWatchdogStart, LogsOnceAndQueuesOnePing) {
    TestRuntime rt;
    FakeDictationControl engine;
    MainThreadWatchdog watchdog(rt.runtime(), engine);
    EXPECT_FALSE(watchdog.isRunning());
    EXPECT_EQ(rt.time.pending(), 0u);
    watchdog.start();
    watchdog.start();
    EXPECT_TRUE(watchdog.isRunning());
    EXPECT_EQ(rt.log.lines(),
              QStringList{QStringLiteral("[Vocalynx][Watchdog] Started (interval=5.0s threshold=5.0s)")});
    EXPECT_EQ(rt.time.pending(), 1u);
    EXPECT_DOUBLE_EQ(rt.time.nextDueIn(), 5.0);
}
