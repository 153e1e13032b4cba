#include <gtest/gtest.h>

#include <memory>

#include "FakeDictationControl.h"
#include "FakeGlobalHotKeys.h"
#include "TestRuntime.h"
#include "core/ConfigStore.h"
#include "core/StopRecordingShortcutManager.h"

namespace vocalynx::test {
namespace {

class StopRecordingShortcutManagerTest : public ::testing::Test {
protected:
    TestRuntime rt;
    ConfigStore config{rt};
    FakeDictationControl engine;
    FakeGlobalHotKeys hotKeys;
    StopRecordingShortcutManager manager{config, engine, hotKeys, rt.runtime().main};
};

TEST_F(StopRecordingShortcutManagerTest, RegistersTheStoredShortcutWithOurIdentifier) {
    manager.registerShortcut();
    ASSERT_EQ(hotKeys.registered.size(), 1u);
    const auto& r = hotKeys.registered.begin()->second;
    EXPECT_EQ(r.keyCode, 41u);
    EXPECT_EQ(r.modifiers, 256u);
    EXPECT_EQ(r.id, (HotKeyID{0x564C4E58, 1}));  // 'VLNX'
}

TEST_F(StopRecordingShortcutManagerTest, ReRegistrationReplacesTheKeyAndInstallsTheHandlerOnce) {
    manager.registerShortcut();
    config.setStopRecordingShortcut({40, KeyboardShortcut::kCommand | KeyboardShortcut::kShift});
    manager.registerShortcut();
    EXPECT_EQ(hotKeys.handlerInstalls, 1);
    ASSERT_EQ(hotKeys.registered.size(), 1u);
    engine.currentState = RecordingState::recording;
    EXPECT_FALSE(hotKeys.press(41, 256)) << "the old key is gone";
    EXPECT_TRUE(hotKeys.press(40, 0x300));
    EXPECT_EQ(engine.stops, 1);
}

TEST_F(StopRecordingShortcutManagerTest, PressReachesTheEngineWhichStopsOnlyARecording) {
    manager.registerShortcut();
    EXPECT_TRUE(hotKeys.press(41, 256));
    EXPECT_EQ(engine.stopShortcuts, 1);
    EXPECT_EQ(engine.stops, 0);
    engine.currentState = RecordingState::recording;
    hotKeys.press(41, 256);
    EXPECT_EQ(engine.stops, 1);
}

// The hot keys outlive the manager (a settings window's manager, a test's): a press after the
// manager is gone must not reach into it.
TEST_F(StopRecordingShortcutManagerTest, APressAfterTheManagerIsGoneReachesNothing) {
    auto shortLived = std::make_unique<StopRecordingShortcutManager>(config, engine, hotKeys, rt.runtime().main);
    shortLived->registerShortcut();
    shortLived.reset();
    engine.currentState = RecordingState::recording;
    EXPECT_TRUE(hotKeys.press(41, 256)) << "the key stays registered";
    EXPECT_EQ(engine.stopShortcuts, 0);
    EXPECT_EQ(engine.stops, 0);
}

TEST_F(StopRecordingShortcutManagerTest, HandlerIgnoresForeignOrMissingEventsAndReportsSuccess) {
    struct Case {
        const char* name;
        std::optional<HotKeyID> id;
        bool withManager;
    };
    const Case cases[] = {
        {"other id", HotKeyID{HotKeyID::fourCharCode("VLNX"), 2}, true},
        {"other signature", HotKeyID{HotKeyID::fourCharCode("ABCD"), 1}, true},
        {"no event", std::nullopt, true},
        {"no user data", StopRecordingShortcutManager::kHotKeyID, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StopRecordingShortcutManager::stopRecordingHotKeyHandler(c.id ? &*c.id : nullptr,
                                                                           c.withManager ? &manager : nullptr),
                  0);
    }
    EXPECT_EQ(engine.stopShortcuts, 0);
}

}  // namespace
}  // namespace vocalynx::test
