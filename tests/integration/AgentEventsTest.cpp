// Agent events over the private session bus: signals sent by the command-line D-Bus tool reach
// the agent monitor through the real D-Bus adapter.

#include <gtest/gtest.h>

#include <QProcess>

#include "AppProcess.h"
#include "FakeSoundOutput.h"
#include "LiveRuntime.h"
#include "core/AgentMonitor.h"
#include "core/ConfigStore.h"
#include "platform/linux/DBusDistributedNotifications.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

void run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    ASSERT_TRUE(p.waitForFinished(10000)) << program.toStdString();
    ASSERT_EQ(p.exitCode(), 0) << program.toStdString() << ": " << p.readAllStandardError().toStdString();
}

// Emits the agent-event signal from the given object path; body is a GVariant text, or empty
// for a signal without arguments.
void emitAgentEvent(const QString& path, const QString& body) {
    QStringList arguments{"emit", "--session", "--object-path", path, "--signal", "com.vocalynx.AgentEvent.Event"};
    if (!body.isEmpty()) arguments << body;
    run("gdbus", arguments);
}

struct AgentEventsFixture {
    LiveRuntime rt;
    ConfigStore config{rt.runtime()};
    FakeSoundOutput output;
    SoundFeedback sounds{config, output};
    DBusDistributedNotifications center;
    AgentMonitor monitor{rt.runtime(), center, sounds};
};

constexpr int kAgentStart = 5, kAgentComplete = 6;

}  // namespace

TEST(AgentEvents, SignalsOnTheSessionBusLogAndPlayTheirCue) {
    AgentEventsFixture f;
    f.monitor.start();
    ASSERT_FALSE(f.rt.log.containsPart("cannot receive")) << "no session bus: run under the test services";

    emitAgentEvent("/com/vocalynx/Bridge", "{'event': <'Stop'>}");
    ASSERT_TRUE(processEventsUntil([&] { return f.output.plays(kAgentComplete) == 1; }, 10000))
        << f.rt.log.lines().join('\n').toStdString();
    EXPECT_TRUE(f.rt.log.contains("[Vocalynx] Agent event: Stop from unknown"));

    // Any object path, any sender.
    emitAgentEvent("/elsewhere", "{'event': <'UserPromptSubmit'>, 'source': <'claude'>}");
    ASSERT_TRUE(processEventsUntil([&] { return f.output.plays(kAgentStart) == 1; }, 10000))
        << f.rt.log.lines().join('\n').toStdString();
    EXPECT_TRUE(f.rt.log.contains("[Vocalynx] Agent event: UserPromptSubmit from claude"));
}

TEST(AgentEvents, SignalsWithoutAStringEventAreIgnoredSilently) {
    AgentEventsFixture f;
    f.monitor.start();
    f.rt.log.clear();
    emitAgentEvent("/b", "");                                   // no user information at all
    emitAgentEvent("/b", "{'source': <'codex'>}");              // no "event"
    emitAgentEvent("/b", "{'event': <int32 5>, 'source': <'codex'>}");  // "event" not a string
    emitAgentEvent("/b", "{'event': <<'Stop'>>}");              // a variant inside the variant
    emitAgentEvent("/b", "('Stop', 'claude')");                 // not a map
    // Delivered in order: once this one is logged the ones before have been handled.
    emitAgentEvent("/b", "{'event': <'SessionStart'>, 'source': <'codex'>}");
    ASSERT_TRUE(processEventsUntil([&] { return f.output.plays(kAgentStart) == 1; }, 10000))
        << f.rt.log.lines().join('\n').toStdString();
    EXPECT_EQ(f.rt.log.lines(), QStringList{"[Vocalynx] Agent event: SessionStart from codex"});
    EXPECT_EQ(f.output.calls.filter("play").size(), 1);
}

// The built program: its launch road starts the updater, the agent monitor and the watchdog, and
// a bridge's signal reaches it.
TEST(AgentEvents, TheRunningProgramHearsTheBridge) {
    AppProcess app;
    app.start(VOCALYNX_APP_BINARY);
    ASSERT_TRUE(app.waitForLine("[Vocalynx][Watchdog] Started (interval=5.0s threshold=5.0s)")) << app.output().toStdString();
    const QString out = app.output();
    EXPECT_TRUE(out.contains("[Vocalynx][Sparkle] started feed=nil autoChecks=false autoDownloads=false\n"));
    EXPECT_LT(out.indexOf("[Vocalynx][Sparkle] started"), out.indexOf("[Vocalynx] AgentMonitor started, listening for agent events"));
    emitAgentEvent("/com/vocalynx/Bridge", "{'event': <'PermissionRequest'>, 'source': <'cursor'>}");
    EXPECT_TRUE(app.waitForLine("[Vocalynx] Agent event: PermissionRequest from cursor")) << app.output().toStdString();
    app.process().terminate();
    EXPECT_TRUE(app.waitForExit());
}
