#include "InjectionTestFixture.h"

namespace vocalynx::test {
namespace {

class ActionExecutorTest : public InjectionFixture {
protected:
    ActionExecutor executor{config, engine, injector, keys, sounds, rt};
};

TEST_F(ActionExecutorTest, KeyActionsPostTheirKeyAfterTheirCue) {
    struct Case {
        Action action;
        QStringList journal;
        QStringList lines;
    };
    const Case cases[] = {
        {Action::simulateEnter(),
         {soundEntry(SoundType::confirm), QStringLiteral("key 36 flags 0x0")},
         {QStringLiteral("[Vocalynx] Simulating Enter"), QStringLiteral("[Vocalynx] AXIsProcessTrusted: true"),
          QStringLiteral("[Vocalynx] Key posted: 36")}},
        {Action::simulateEsc(),
         {soundEntry(SoundType::cancel), QStringLiteral("key 53 flags 0x0")},
         {QStringLiteral("[Vocalynx] Simulating Esc"), QStringLiteral("[Vocalynx] AXIsProcessTrusted: true"),
          QStringLiteral("[Vocalynx] Key posted: 53")}},
        {Action::simulateHotkey(0, 0x100000),
         {QStringLiteral("key 0 flags 0x100000")},
         {QStringLiteral("[Vocalynx] AXIsProcessTrusted: true"), QStringLiteral("[Vocalynx] Key posted: 0")}},
        {Action::none(), {}, {}},
        {Action::sendText(QString()), {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(actionKindName(c.action.kind).toStdString());
        journal->clear();
        rt.log.clear();
        executor.execute(c.action);
        rt.time.advance(1);
        EXPECT_EQ(*journal, c.journal);
        EXPECT_EQ(rt.log.lines(), c.lines);
    }
}

TEST_F(ActionExecutorTest, WithoutPermissionTheCueStillPlaysButNoKeyIsPosted) {
    keys.trusted = false;
    executor.execute(Action::simulateEnter());
    EXPECT_EQ(*journal, QStringList{soundEntry(SoundType::confirm)});
    EXPECT_EQ(rt.log.lines(),
              (QStringList{QStringLiteral("[Vocalynx] Simulating Enter"),
                           QStringLiteral("[Vocalynx] AXIsProcessTrusted: false"),
                           QStringLiteral("[Vocalynx] Cannot simulate key - no accessibility permission")}));
}

TEST_F(ActionExecutorTest, KeysThatCannotBeCreatedAreReported) {
    for (const bool sourceMissing : {true, false}) {
        rt.log.clear();
        keys.eventsAvailable = !sourceMissing;
        keys.keyPostSucceeds = sourceMissing;  // the other way: a key code with no key
        executor.postKey(10, 0);
        EXPECT_EQ(rt.log.lines(), (QStringList{QStringLiteral("[Vocalynx] AXIsProcessTrusted: true"),
                                               QStringLiteral("[Vocalynx] Failed to create CGEvent")}));
        EXPECT_EQ(keys.keyCount(), 0);
    }
}

TEST_F(ActionExecutorTest, SendTextUsesTheModeStoredAtThatMoment) {
    setInjectionMode(InjectionMode::clipboard);
    executor.execute(Action::sendText(QStringLiteral("hi")));
    EXPECT_EQ(clipboard.content, QStringLiteral("hi"));
    setInjectionMode(InjectionMode::keyboard);
    executor.execute(Action::sendText(QStringLiteral("yo")));
    EXPECT_EQ(keys.units, QStringLiteral("yo"));
}

TEST_F(ActionExecutorTest, ToggleRecordingFollowsTheEngineState) {
    struct Case {
        RecordingState state;
        int starts, stops;
    };
    const Case cases[] = {{RecordingState::idle, 1, 0},
                          {RecordingState::recording, 0, 1},
                          {RecordingState::transcribing, 0, 0},
                          {RecordingState::collapsing, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(recordingStateName(c.state).toStdString());
        FakeDictationControl fresh;
        fresh.currentState = c.state;
        ActionExecutor local(config, fresh, injector, keys, sounds, rt);
        journal->clear();
        local.execute(Action::toggleRecording());
        EXPECT_EQ(fresh.starts, c.starts);
        EXPECT_EQ(fresh.stops, c.stops);
        EXPECT_TRUE(journal->isEmpty()) << "the executor itself plays no cue";
    }
}

TEST_F(ActionExecutorTest, DictationCompletionInjectsWithTheModeReadAtCompletion) {
    setInjectionMode(InjectionMode::keyboard);
    executor.execute(Action::toggleRecording());
    ASSERT_TRUE(engine.completion);
    setInjectionMode(InjectionMode::clipboard);
    engine.completion(QStringLiteral("你好"));
    EXPECT_EQ(clipboard.content, QStringLiteral("你好"));
    EXPECT_TRUE(keys.units.isEmpty());
}

TEST_F(ActionExecutorTest, DictationCompletionSkipsEmptyTextAndAGoneExecutor) {
    executor.execute(Action::toggleRecording());
    engine.completion(QString());
    rt.time.advance(1);
    EXPECT_TRUE(rt.log.lines().isEmpty());

    FakeDictationControl other;
    auto shortLived = std::make_unique<ActionExecutor>(config, other, injector, keys, sounds, rt);
    shortLived->execute(Action::toggleRecording());
    shortLived.reset();
    other.completion(QStringLiteral("late text"));
    rt.time.advance(1);
    EXPECT_TRUE(rt.log.lines().isEmpty());
    EXPECT_TRUE(keys.units.isEmpty());
}

}  // namespace
}  // namespace vocalynx::test
