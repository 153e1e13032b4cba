#include <gtest/gtest.h>

#include <thread>

#include "EngineTestSupport.h"
#include "FakeCapture.h"
#include "FakeSoundOutput.h"
#include "TestRuntime.h"
#include "WhisperEngineProbe.h"
#include "engine/WhisperEngine.h"
#include "platform/SequenceCheck.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

class StateMachineTest : public ::testing::Test {
protected:
    StateMachineTest() {
        QObject::connect(&engine, &WhisperEngine::stateChanged, [this](RecordingState s) { observed.push_back(s); });
    }
    QStringList stateLines() const { return test::stateLines(rt.log); }
    // Stream fields as a dictation in progress leaves them.
    void setStreamFields() {
        ColiChannel& channel = probe.channel();
        std::lock_guard lock(channel.processLock);
        channel.lineBuffer.append("partial");
        channel.coliReady = true;
        channel.activeColiSessionID = QUuid::createUuid();
        channel.finalizeDrainToken = QUuid::createUuid();
    }
    bool streamFieldsCleared() {
        ColiChannel& channel = probe.channel();
        std::lock_guard lock(channel.processLock);
        return channel.lineBuffer.isEmpty() && !channel.coliReady && !channel.activeColiSessionID &&
               !channel.finalizeDrainToken;
    }
    TestRuntime rt;
    ConfigStore config{rt.runtime()};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    RecordingPlayers players;
    FakeCaptureSystem capture;
    WhisperEngine engine{{rt.runtime(), config, sounds, &players, &players, &capture}};
    WhisperEngine::TestProbe probe{engine};
    std::vector<RecordingState> observed;
};

}  // namespace

TEST_F(StateMachineTest, LinesForChangesAndRepeats) {
    probe.setState(RecordingState::recording, QStringLiteral("startRecording"));
    probe.setState(RecordingState::recording, QStringLiteral("again"));
    EXPECT_EQ(stateLines(), (QStringList{QStringLiteral("state idle -> recording reason=startRecording"),
                                         QStringLiteral("state remains recording reason=again")}));
    EXPECT_EQ(observed, (std::vector{RecordingState::recording, RecordingState::recording}));
    const QString first = rt.log.lines().first();
    EXPECT_TRUE(first.startsWith(QStringLiteral("[Vocalynx][StateDiagnostics] ts="))) << first.toStdString();
    EXPECT_TRUE(first.contains(QRegularExpression(QStringLiteral(R"(ts=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z uptime=0\.0s )"))))
        << first.toStdString();
}

TEST_F(StateMachineTest, StallWatchdogRecoversATranscribingStateAfter20Seconds) {
    probe.setState(RecordingState::transcribing, QStringLiteral("stopRecording"));
    rt.time.advance(19.9);
    EXPECT_EQ(engine.state(), RecordingState::transcribing);
    rt.time.advance(0.1);
    EXPECT_EQ(engine.state(), RecordingState::idle);
    const QStringList lines = stateLines();
    EXPECT_TRUE(lines.contains(QStringLiteral("AUTO_DUMP trigger=state-stall-stopRecording state=transcribing timeout=20.0s state=transcribing micReady=false isStopping=false previewLen=0")));
    EXPECT_TRUE(lines.contains(QStringLiteral("recoverFromStalledState state=transcribing reason=watchdog-stopRecording")));
    EXPECT_TRUE(lines.contains(QStringLiteral("state transcribing -> idle reason=recovery-watchdog-stopRecording")));
}

TEST_F(StateMachineTest, CollapsingReplacesTheTranscribingWatchdogWithSixSeconds) {
    probe.setState(RecordingState::transcribing, QStringLiteral("stopRecording"));
    rt.time.advance(10);
    probe.setState(RecordingState::collapsing, QStringLiteral("postRecordingCollapse"));
    rt.time.advance(5.9);
    EXPECT_EQ(engine.state(), RecordingState::collapsing);
    rt.time.advance(0.1);
    EXPECT_EQ(engine.state(), RecordingState::idle);
    EXPECT_TRUE(stateLines().contains(QStringLiteral("AUTO_DUMP trigger=state-stall-postRecordingCollapse state=collapsing timeout=6.0s state=collapsing micReady=false isStopping=false previewLen=0")));
    // The old 20 s watchdog never fires.
    rt.log.clear();
    rt.time.advance(30);
    EXPECT_TRUE(stateLines().isEmpty());
}

TEST_F(StateMachineTest, IdleAndRecordingLeaveNoWatchdog) {
    for (RecordingState next : {RecordingState::idle, RecordingState::recording}) {
        probe.setState(RecordingState::transcribing, QStringLiteral("stopRecording"));
        probe.setState(next, QStringLiteral("moveOn"));
        rt.log.clear();
        rt.time.advance(60);
        EXPECT_TRUE(stateLines().isEmpty()) << recordingStateName(next).toStdString();
        EXPECT_EQ(engine.state(), next);
    }
}

TEST_F(StateMachineTest, SettingTheSameTransientStateAgainRearmsTheWatchdog) {
    probe.setState(RecordingState::collapsing, QStringLiteral("first"));
    rt.time.advance(4);
    probe.setState(RecordingState::collapsing, QStringLiteral("second"));
    rt.time.advance(4);
    EXPECT_EQ(engine.state(), RecordingState::collapsing);
    rt.time.advance(2);
    EXPECT_EQ(engine.state(), RecordingState::idle);
    EXPECT_TRUE(stateLines().contains(QStringLiteral("recoverFromStalledState state=collapsing reason=watchdog-second")));
}

TEST_F(StateMachineTest, RecoveryResetsEverythingInOrder) {
    auto session = std::make_shared<FakeCaptureSession>(AudioInputDevice{QStringLiteral("m"), QStringLiteral("Mic"), true});
    probe.giveCaptureSession(session);
    probe.setState(RecordingState::transcribing, QStringLiteral("stopRecording"));
    engine.stagePublishedValues(RecordingState::transcribing, QStringLiteral("你好"), false);
    probe.setStopping(true);
    setStreamFields();
    players.calls.clear();

    engine.recoverFromStalledState(RecordingState::transcribing, QStringLiteral("watchdog-x"));
    rt.time.runUntilIdle();  // the tear-down runs on the capture-session queue

    EXPECT_EQ(session->tearDownCount, 1);
    EXPECT_TRUE(streamFieldsCleared());
    EXPECT_EQ(players.calls, (QStringList{QStringLiteral("resumeSilent"), QStringLiteral("resumeMedia")}));
    EXPECT_EQ(engine.previewText(), QStringLiteral(""));
    EXPECT_FALSE(probe.stopping());
    EXPECT_EQ(engine.state(), RecordingState::idle);
    const QStringList lines = stateLines();
    const int recover = lines.indexOf(QStringLiteral("recoverFromStalledState state=transcribing reason=watchdog-x"));
    const int idle = lines.indexOf(QStringLiteral("state transcribing -> idle reason=recovery-watchdog-x"));
    EXPECT_GE(recover, 0);
    EXPECT_GT(idle, recover);
    EXPECT_TRUE(soundOutput.calls.isEmpty()) << "recovery plays no sound";
}

TEST_F(StateMachineTest, RecoveryWithoutCaptureSessionStillCompletes) {
    probe.setState(RecordingState::collapsing, QStringLiteral("cancelRecording"));
    engine.recoverFromStalledState(RecordingState::collapsing, QStringLiteral("mainThreadHang"));
    EXPECT_EQ(engine.state(), RecordingState::idle);
    EXPECT_EQ(players.calls, (QStringList{QStringLiteral("resumeSilent"), QStringLiteral("resumeMedia")}));
}

TEST_F(StateMachineTest, AutoDumpCountsCharactersNotCodeUnits) {
    engine.stagePublishedValues(RecordingState::idle, QString::fromUtf8("a🎉é"), true);
    probe.setState(RecordingState::transcribing, QStringLiteral("stopRecording"));
    rt.time.advance(20);  // the stall watchdog dumps the state before it recovers
    EXPECT_TRUE(stateLines().contains(QStringLiteral("AUTO_DUMP trigger=state-stall-stopRecording state=transcribing timeout=20.0s state=transcribing micReady=true isStopping=false previewLen=3")))
        << stateLines().join(u'\n').toStdString();
}

TEST_F(StateMachineTest, AWatchdogOutlivingTheEngineDoesNothing) {
    auto other = std::make_unique<WhisperEngine>(
        WhisperEngine::Dependencies{rt.runtime(), config, sounds, &players, &players, &capture});
    WhisperEngine::TestProbe{*other}.setState(RecordingState::transcribing, QStringLiteral("stopRecording"));
    other.reset();
    rt.log.clear();
    rt.time.advance(30);
    EXPECT_TRUE(stateLines().isEmpty());
}

// The engine's entry points belong to the main thread: in a debug build a call from another thread
// aborts at once, naming the entry point, instead of racing with the main thread.
TEST_F(StateMachineTest, AnEntryPointCalledOffTheMainThreadAbortsInADebugBuild) {
    if (!kSequenceChecks) GTEST_SKIP() << "the checks are compiled out of release builds";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto offMain = [](auto call) { std::thread(call).join(); };
    EXPECT_DEATH(offMain([&] { engine.startRecording([](const QString&) {}); }),
                 "WhisperEngine::startRecording was called off the thread it belongs to");
    EXPECT_DEATH(offMain([&] { engine.stopRecording(); }),
                 "WhisperEngine::stopRecording was called off the thread it belongs to");
    EXPECT_DEATH(offMain([&] { engine.handleStopShortcut(); }),
                 "WhisperEngine::handleStopShortcut was called off the thread it belongs to");
    // On the main thread the same call runs (no model installed: it only reports that).
    engine.startRecording([](const QString&) {});
    EXPECT_EQ(engine.state(), RecordingState::idle);
}
