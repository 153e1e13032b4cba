// Agent events over the private session bus: signals sent by the command-line D-Bus tool reach
// the agent monitor through the real D-Bus adapter.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

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
    QStringList arguments{QStringLiteral("emit"),          QStringLiteral("--session"),
                          QStringLiteral("--object-path"), path,
                          QStringLiteral("--signal"),      QStringLiteral("com.vocalynx.AgentEvent.Event")};
    if (!body.isEmpty()) arguments << body;
    run(QStringLiteral("gdbus"), arguments);
}

// A bus connection of its own, as another program would have.
class ForeignSender {
public:
    ForeignSender()
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                             QStringLiteral("agent-events-foreign-sender"))) {}
    ~ForeignSender() { QDBusConnection::disconnectFromBus(QStringLiteral("agent-events-foreign-sender")); }
    bool connected() const { return bus_.isConnected(); }
    void send(const QVariantList& arguments, const QString& interface = QStringLiteral("com.vocalynx.AgentEvent"),
              const QString& member = QStringLiteral("Event")) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/foreign"), interface, member);
        signal.setArguments(arguments);
        bus_.send(signal);
    }
    // Returns once the bus has taken every signal sent before: it answers in order.
    bool flush() {
        const QDBusMessage reply =
            bus_.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                     QStringLiteral("/org/freedesktop/DBus"),
                                                     QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")),
                      QDBus::Block, 120000);
        return reply.type() == QDBusMessage::ReplyMessage;
    }

private:
    QDBusConnection bus_;
};

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
    ASSERT_FALSE(f.rt.log.containsPart("cannot receive"))
        << "no session bus: run under the test services";

    emitAgentEvent(QStringLiteral("/com/vocalynx/Bridge"), QStringLiteral("{'event': <'Stop'>}"));
    ASSERT_TRUE(processEventsUntil([&] { return f.output.plays(kAgentComplete) == 1; }, 10000))
        << f.rt.log.lines().join(u'\n').toStdString();
    EXPECT_TRUE(f.rt.log.contains(QStringLiteral("[Vocalynx] Agent event: Stop from unknown")));

    // Any object path, any sender.
    emitAgentEvent(QStringLiteral("/elsewhere"),
                   QStringLiteral("{'event': <'UserPromptSubmit'>, 'source': <'claude'>}"));
    ASSERT_TRUE(processEventsUntil([&] { return f.output.plays(kAgentStart) == 1; }, 10000))
        << f.rt.log.lines().join(u'\n').toStdString();
    EXPECT_TRUE(f.rt.log.contains(QStringLiteral("[Vocalynx] Agent event: UserPromptSubmit from claude")));
}

TEST(AgentEvents, SignalsWithoutAStringEventAreIgnoredSilently) {
    AgentEventsFixture f;
    f.monitor.start();
    f.rt.log.clear();
    emitAgentEvent(QStringLiteral("/b"), QStringLiteral(""));  // no user information at all
    emitAgentEvent(QStringLiteral("/b"), QStringLiteral("{'source': <'codex'>}"));  // no "event"
    emitAgentEvent(QStringLiteral("/b"),
                   QStringLiteral("{'event': <int32 5>, 'source': <'codex'>}"));  // "event" not a string
    emitAgentEvent(QStringLiteral("/b"), QStringLiteral("{'event': <<'Stop'>>}"));  // a variant inside the variant
    emitAgentEvent(QStringLiteral("/b"), QStringLiteral("('Stop', 'claude')"));  // not a map
    // Delivered in order: once this one is logged the ones before have been handled.
    emitAgentEvent(QStringLiteral("/b"), QStringLiteral("{'event': <'SessionStart'>, 'source': <'codex'>}"));
    ASSERT_TRUE(processEventsUntil([&] { return f.output.plays(kAgentStart) == 1; }, 10000))
        << f.rt.log.lines().join(u'\n').toStdString();
    EXPECT_EQ(f.rt.log.lines(), QStringList{QStringLiteral("[Vocalynx] Agent event: SessionStart from codex")});
    EXPECT_EQ(f.output.calls.filter(QStringLiteral("play")).size(), 1);
}

// The built program: its launch road starts the updater, the agent monitor and the watchdog, and
// a bridge's signal reaches it.
TEST(AgentEvents, TheRunningProgramHearsTheBridge) {
    AppProcess app;
    app.start(QStringLiteral(VOCALYNX_APP_BINARY));
    ASSERT_TRUE(app.waitForLine("[Vocalynx][Watchdog] Started (interval=5.0s threshold=5.0s)"))
        << app.output().toStdString();
    const QString out = app.output();
    EXPECT_TRUE(
        out.contains(QStringLiteral("[Vocalynx][Sparkle] started feed=nil autoChecks=false autoDownloads=false\n")));
    EXPECT_LT(out.indexOf(QStringLiteral("[Vocalynx][Sparkle] started")),
              out.indexOf(QStringLiteral("[Vocalynx] AgentMonitor started, listening for agent events")));
    emitAgentEvent(QStringLiteral("/com/vocalynx/Bridge"),
                   QStringLiteral("{'event': <'PermissionRequest'>, 'source': <'cursor'>}"));
    EXPECT_TRUE(app.waitForLine("[Vocalynx] Agent event: PermissionRequest from cursor"))
        << app.output().toStdString();
    app.process().terminate();
    EXPECT_TRUE(app.waitForExit());
}

// Whatever shape another program gives the signal's arguments, only one a{sv} map is user
// information; every other shape is dropped before its contents are read.
TEST(AgentEvents, ArgumentsOfAnyOtherShapeAreIgnored) {
    AgentEventsFixture f;
    f.monitor.start();
    f.rt.log.clear();
    struct Case {
        const char* shape;
        QStringList arguments;  // GVariant texts, one per argument
    };
    const Case cases[] = {
        {"a{ss}", {QStringLiteral("{'event': 'Stop'}")}},
        {"a{si}", {QStringLiteral("{'event': 1}")}},
        {"a{sas}", {QStringLiteral("{'event': ['Stop']}")}},
        {"a{s(ss)}", {QStringLiteral("{'event': ('Stop', 'claude')}")}},
        {"a{sa{sv}}", {QStringLiteral("{'event': {'event': <'Stop'>}}")}},
        {"a{sa{ss}}", {QStringLiteral("{'event': {'event': 'Stop'}}")}},
        {"a{iv}", {QStringLiteral("{1: <'Stop'>}")}},
        {"a{ov}", {QStringLiteral("{@o '/event': <'Stop'>}")}},
        {"as", {QStringLiteral("['event', 'Stop']")}},
        {"s", {QStringLiteral("'Stop'")}},
        {"a{sv} followed by a string", {QStringLiteral("{'event': <'Stop'>}"), QStringLiteral("'claude'")}},
        {"a string followed by a{sv}", {QStringLiteral("'claude'"), QStringLiteral("{'event': <'Stop'>}")}},
        {"a{sv} whose event holds a map", {QStringLiteral("{'event': <{'event': 'Stop'}>}")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shape);
        QStringList arguments{QStringLiteral("emit"),          QStringLiteral("--session"),
                              QStringLiteral("--object-path"), QStringLiteral("/b"),
                              QStringLiteral("--signal"),      QStringLiteral("com.vocalynx.AgentEvent.Event")};
        run(QStringLiteral("gdbus"), arguments + c.arguments);
    }
    emitAgentEvent(QStringLiteral("/b"), QStringLiteral("{'event': <'SessionStart'>, 'source': <'codex'>}"));
    ASSERT_TRUE(processEventsUntil([&] { return f.output.plays(kAgentStart) == 1; }, 10000))
        << f.rt.log.lines().join(u'\n').toStdString();
    EXPECT_EQ(f.rt.log.lines(), QStringList{QStringLiteral("[Vocalynx] Agent event: SessionStart from codex")});
    EXPECT_EQ(f.output.calls.filter(QStringLiteral("play")).size(), 1);
}

// Values from the signal go into the log escaped and cut short: a line break cannot forge a line
// and a long string does not fill the disk. A map too large to be an agent event is dropped.
TEST(AgentEvents, LoggedValuesAreEscapedAndBounded) {
    AgentEventsFixture f;
    f.monitor.start();
    ForeignSender sender;
    ASSERT_TRUE(sender.connected());
    f.rt.log.clear();
    sender.send(
        {QVariant(QVariantMap{{QStringLiteral("event"), QStringLiteral("Stop")},
                              {QStringLiteral("source"), QStringLiteral("claude\n[Vocalynx] Agent event: forged")}})});
    sender.send({QVariant(QVariantMap{{QStringLiteral("event"), QStringLiteral("Stop")},
                                      {QStringLiteral("source"), QString(5000, u'x')}})});
    sender.send({QVariant(QVariantMap{{QStringLiteral("event"), QStringLiteral("Stop")},
                                      {QStringLiteral("source"), QString(300'000, u'x')}})});
    sender.send({QVariant(QVariantMap{{QStringLiteral("event"), QStringLiteral("SessionStart")},
                                      {QStringLiteral("source"), QStringLiteral("codex")}})});
    ASSERT_TRUE(sender.flush());
    ASSERT_TRUE(processEventsUntil([&] { return f.output.plays(kAgentStart) == 1; }, 10000))
        << f.rt.log.lines().join(u'\n').left(2000).toStdString();
    const QStringList lines = f.rt.log.lines();
    ASSERT_EQ(lines.size(), 3) << lines.join(u'\n').left(2000).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("[Vocalynx] Agent event: Stop from claude\\n[Vocalynx] Agent event: forged"));
    EXPECT_LT(lines[1].size(), 300);
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("…(5000 chars)"))) << lines[1].toStdString();
    EXPECT_EQ(lines[2], QStringLiteral("[Vocalynx] Agent event: SessionStart from codex"));
}

// The built program: a malformed signal from any bus client leaves it running and listening.
TEST(AgentEvents, TheRunningProgramSurvivesAMalformedSignal) {
    AppProcess app;
    app.start(QStringLiteral(VOCALYNX_APP_BINARY));
    ASSERT_TRUE(app.waitForLine("[Vocalynx] AgentMonitor started, listening for agent events"))
        << app.output().toStdString();
    emitAgentEvent(QStringLiteral("/x"), QStringLiteral("{'event': 'Stop'}"));
    emitAgentEvent(QStringLiteral("/x"), QStringLiteral("{'event': <'Stop'>, 'source': <'after'>}"));
    EXPECT_TRUE(app.waitForLine("[Vocalynx] Agent event: Stop from after"))
        << app.output().toStdString();
    ASSERT_EQ(app.process().state(), QProcess::Running) << app.output().toStdString();
    app.process().terminate();
    EXPECT_TRUE(app.waitForExit());
}

namespace {
// Our MPRIS player's playback status, asked over this test's own connection with a deadline.
QDBusMessage askPlaybackStatus(int timeoutMs) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.mpris.MediaPlayer2.vocalynx"), QStringLiteral("/org/mpris/MediaPlayer2"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.mpris.MediaPlayer2.Player") << QStringLiteral("PlaybackStatus");
    return QDBusConnection::sessionBus().call(call, QDBus::Block, timeoutMs);
}
}  // namespace

// A burst of huge signals on the agent-event name, in the right shape and in others, neither wedges
// the program's bus connection nor floods its log: the media player keeps answering and a later
// agent event is still heard.
TEST(AgentEvents, ABurstOfHugeSignalsLeavesTheBusAnswering) {
    AppProcess app;
    app.start(QStringLiteral(VOCALYNX_APP_BINARY));
    ASSERT_TRUE(app.waitForLine("[Vocalynx] AgentMonitor started, listening for agent events"))
        << app.output().toStdString();
    QDeadlineTimer registered(15000);
    while (askPlaybackStatus(2000).type() != QDBusMessage::ReplyMessage && !registered.hasExpired()) QThread::msleep(50);
    ASSERT_EQ(askPlaybackStatus(5000).type(), QDBusMessage::ReplyMessage) << app.output().left(5000).toStdString();

    ForeignSender sender;
    ASSERT_TRUE(sender.connected());
    const QString huge(20 * 1024 * 1024, QLatin1Char('x'));  // 20 MB on the wire
    for (int i = 0; i < 10; ++i) {
        sender.send({QVariant(
            QVariantMap{{QStringLiteral("event"), QStringLiteral("Stop")}, {QStringLiteral("source"), huge}})});
        sender.send({QVariant(QStringList{huge})});
    }
    ASSERT_TRUE(sender.flush());

    const QDBusMessage reply = askPlaybackStatus(25000);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    emitAgentEvent(QStringLiteral("/x"), QStringLiteral("{'event': <'Stop'>, 'source': <'after the burst'>}"));
    EXPECT_TRUE(app.waitForLine("[Vocalynx] Agent event: Stop from after the burst", 30000))
        << app.output().right(3000).toStdString();
    EXPECT_LT(app.output().size(), 1'000'000) << "the log grew with the signals' contents";
    ASSERT_EQ(app.process().state(), QProcess::Running);
    app.process().terminate();
    EXPECT_TRUE(app.waitForExit());
}
