#include <gtest/gtest.h>

#include "FakeSoundOutput.h"
#include "TestRuntime.h"
#include "core/AgentMonitor.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

class FakeDistributedCenter final : public DistributedNotificationCenter {
public:
    bool addObserver(const QString& name, Observer observer) override {
        names << name;
        observers.push_back(std::move(observer));
        return accept;
    }
    void post(const std::optional<QVariantMap>& userInfo) {
        for (auto& o : observers) o(userInfo);
    }
    QStringList names;
    std::vector<Observer> observers;
    bool accept = true;
};

// Cue ids as FakeSoundOutput numbers them: preparation order of the seven cues.
constexpr int kAgentStart = 5, kAgentComplete = 6, kAgentPermission = 7;

struct MonitorFixture {
    TestRuntime rt;
    ConfigStore config{rt.runtime()};
    FakeSoundOutput output;
    SoundFeedback sounds{config, output};
    FakeDistributedCenter center;
    AgentMonitor monitor{rt.runtime(), center, sounds};
};

}  // namespace

TEST(AgentMonitor, StartObservesTheAgentEventNotification) {
    MonitorFixture f;
    f.monitor.start();
    EXPECT_EQ(f.center.names, QStringList{QStringLiteral("com.vocalynx.agent-event")});
    EXPECT_EQ(f.rt.log.lines(),
              QStringList{QStringLiteral("[Vocalynx] AgentMonitor started, listening for agent events")});
}

TEST(AgentMonitor, EventsLogTheirLineAndPlayTheirCueOnTheMainQueue) {
    struct Case {
        QVariantMap userInfo;
        QString line;
        int cue;  // 0: none
    };
    const Case cases[] = {
        {{{QStringLiteral("event"), QStringLiteral("UserPromptSubmit")},
          {QStringLiteral("source"), QStringLiteral("claude")}},
         QStringLiteral("[Vocalynx] Agent event: UserPromptSubmit from claude"),
         kAgentStart},
        {{{QStringLiteral("event"), QStringLiteral("SessionStart")},
          {QStringLiteral("source"), QStringLiteral("codex")}},
         QStringLiteral("[Vocalynx] Agent event: SessionStart from codex"),
         kAgentStart},
        {{{QStringLiteral("event"), QStringLiteral("Stop")}},
         QStringLiteral("[Vocalynx] Agent event: Stop from unknown"),
         kAgentComplete},
        {{{QStringLiteral("event"), QStringLiteral("PermissionRequest")}, {QStringLiteral("source"), 7}},
         QStringLiteral("[Vocalynx] Agent event: PermissionRequest from unknown"),
         kAgentPermission},
        {{{QStringLiteral("event"), QStringLiteral("PreToolUse")},
          {QStringLiteral("source"), QStringLiteral("cursor")}},
         QStringLiteral("[Vocalynx] Agent event: PreToolUse from cursor"),
         0},
        {{{QStringLiteral("event"), QStringLiteral("stop")}},
         QStringLiteral("[Vocalynx] Agent event: stop from unknown"),
         0},  // names are case-sensitive
        // The sender's values are escaped and cut short: no forged lines, no flooded log.
        {{{QStringLiteral("event"), QStringLiteral("Stop")},
          {QStringLiteral("source"), QStringLiteral("claude\n[Vocalynx] Agent event: forged")}},
         QStringLiteral("[Vocalynx] Agent event: Stop from claude\\n[Vocalynx] Agent event: forged"),
         kAgentComplete},
        {{{QStringLiteral("event"), QString(250, u'e')}, {QStringLiteral("source"), QString(5000, u's')}},
         QStringLiteral("[Vocalynx] Agent event: ") + QString(200, u'e') + QStringLiteral("…(250 chars) from ") +
             QString(200, u's') + QStringLiteral("…(5000 chars)"),
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.left(80).toStdString());
        MonitorFixture f;
        f.monitor.start();
        f.rt.log.clear();
        f.center.post(c.userInfo);
        EXPECT_EQ(f.rt.log.lines(), QStringList{c.line});
        EXPECT_TRUE(f.output.calls.isEmpty()) << "the cue waits for the main queue";
        f.rt.time.runUntilIdle();
        if (c.cue)
            EXPECT_EQ(f.output.calls,
                      (QStringList{QStringLiteral("stop %1").arg(c.cue), QStringLiteral("play %1").arg(c.cue)}));
        else
            EXPECT_TRUE(f.output.calls.isEmpty());
    }
}

TEST(AgentMonitor, NotificationsWithoutAStringEventAreIgnoredSilently) {
    const std::optional<QVariantMap> cases[] = {
        std::nullopt,
        QVariantMap{},
        QVariantMap{{QStringLiteral("source"), QStringLiteral("claude")}},
        QVariantMap{{QStringLiteral("event"), 42}, {QStringLiteral("source"), QStringLiteral("claude")}},
        QVariantMap{{QStringLiteral("event"), QVariant()}},
        QVariantMap{{QStringLiteral("event"), QStringList{QStringLiteral("Stop")}}},
    };
    MonitorFixture f;
    f.monitor.start();
    f.rt.log.clear();
    for (const auto& userInfo : cases) f.center.post(userInfo);
    f.rt.time.runUntilIdle();
    EXPECT_TRUE(f.rt.log.lines().isEmpty());
    EXPECT_TRUE(f.output.calls.isEmpty());
}

TEST(AgentMonitor, SwitchedOffCueIsNotPlayedButStillLogged) {
    MonitorFixture f;
    f.config.setSoundEnabled(SoundType::agentComplete, false);
    f.monitor.start();
    f.center.post(QVariantMap{{QStringLiteral("event"), QStringLiteral("Stop")},
                              {QStringLiteral("source"), QStringLiteral("claude")}});
    f.rt.time.runUntilIdle();
    EXPECT_TRUE(f.rt.log.contains(QStringLiteral("[Vocalynx] Agent event: Stop from claude")));
    EXPECT_TRUE(f.output.calls.isEmpty());
}

TEST(AgentMonitor, SaysSoWhenEventsCannotBeReceived) {
    MonitorFixture f;
    f.center.accept = false;
    f.monitor.start();
    EXPECT_EQ(f.rt.log.countPart("AgentMonitor started"), 1);
    EXPECT_EQ(f.rt.log.countPart("cannot receive agent events"), 1);
}
