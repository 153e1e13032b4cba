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
    StopRecordingShortcutManager manager{config, engine, hotKeys, rt.runtime().main, rt.log};
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

// A shortcut that cannot stop a dictation is logged and kept as the status the settings show; the
// next registration that works clears it.
TEST_F(StopRecordingShortcutManagerTest, AKeyHeldElsewhereOrMissingIsLoggedAndReported) {
    using KeyState = StopRecordingShortcutManager::KeyState;
    EXPECT_EQ(manager.status(), KeyState::none);
    hotKeys.takenElsewhere.insert({41, 256});
    manager.registerShortcut();
    EXPECT_EQ(manager.status(), KeyState::taken);
    EXPECT_TRUE(rt.log.contains(
        "[Vocalynx] Stop shortcut keyCode=41 modifiers=256 is held by another program; it will not stop a dictation"));

    config.setStopRecordingShortcut({40, KeyboardShortcut::kControl});
    hotKeys.missingKeys.insert(40);
    manager.registerShortcut();
    EXPECT_EQ(manager.status(), KeyState::unavailable);
    EXPECT_FALSE(manager.hasHotKey());
    EXPECT_TRUE(rt.log.contains("[Vocalynx] Stop shortcut keyCode=40 modifiers=4096 could not be registered: no such "
                                "key on this keyboard or no window system"));

    const qsizetype lines = rt.log.lines().size();
    config.setStopRecordingShortcut({41, KeyboardShortcut::kControl});
    manager.registerShortcut();
    EXPECT_EQ(manager.status(), KeyState::active);
    EXPECT_EQ(rt.log.lines().size(), lines) << "a working shortcut needs no line";
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
    auto shortLived = std::make_unique<StopRecordingShortcutManager>(config, engine, hotKeys, rt.runtime().main, rt.log);
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
