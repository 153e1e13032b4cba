#include <gtest/gtest.h>
#include <signal.h>

#include "AppProcess.h"

using vocalynx::test::AppProcess;

TEST(AppLaunch, PrintsTheLaunchLinesAndEndsBySigterm) {
    AppProcess app;
    app.start(VOCALYNX_APP_BINARY);
    ASSERT_TRUE(app.waitForLine("[Vocalynx] Sentry disabled: SentryDSN is empty")) << app.output().toStdString();
    ::kill(static_cast<pid_t>(app.process().processId()), SIGTERM);
    ASSERT_TRUE(app.waitForExit());
    EXPECT_EQ(app.process().exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(app.process().exitCode(), SIGTERM) << "the process ends by the signal itself";
}

TEST(AppLaunch, ASecondCopyTerminatesTheFirst) {
    AppProcess first;
    first.start(VOCALYNX_APP_BINARY);
    // The speech warm-up line comes after the first copy's own look for other instances.
    ASSERT_TRUE(first.waitForLine("coli")) << first.output().toStdString();
    AppProcess second;
    second.start(VOCALYNX_APP_BINARY);
    ASSERT_TRUE(second.waitForLine("[Vocalynx] Found 1 other instance(s), terminating them..."))
        << second.output().toStdString();
    ASSERT_TRUE(first.waitForExit());
    EXPECT_EQ(first.process().exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(first.process().exitCode(), SIGTERM);
    ::kill(static_cast<pid_t>(second.process().processId()), SIGTERM);
    EXPECT_TRUE(second.waitForExit());
}

TEST(AppLaunch, StartsWithoutAnyDisplay) {
    AppProcess app;
    app.environment().remove("DISPLAY");
    app.environment().remove("WAYLAND_DISPLAY");
    app.environment().remove("QT_QPA_PLATFORM");
    app.start(VOCALYNX_APP_BINARY);
    ASSERT_TRUE(app.waitForLine("Sentry disabled")) << app.output().toStdString();
    EXPECT_TRUE(app.output().contains("No display found")) << app.output().toStdString();
    ::kill(static_cast<pid_t>(app.process().processId()), SIGTERM);
    EXPECT_TRUE(app.waitForExit());
}
