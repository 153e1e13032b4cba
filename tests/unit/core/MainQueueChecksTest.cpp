// The core's main-thread entry points check their thread in debug builds: called from another
// thread they abort at once with their name, instead of racing with the main thread.

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "FakeClipboard.h"
#include "FakeDictationControl.h"
#include "FakeGlobalHotKeys.h"
#include "FakeKeyEventInjection.h"
#include "FakeSoundOutput.h"
#include "TestRuntime.h"
#include "core/ActionExecutor.h"
#include "core/AgentMonitor.h"
#include "core/MainThreadWatchdog.h"
#include "core/StopRecordingShortcutManager.h"
#include "core/TextInjector.h"

namespace vocalynx::test {
namespace {

class NoCenter final : public DistributedNotificationCenter {
public:
    bool addObserver(const QString&, Observer) override { return true; }
};

struct CoreParts {
    TestRuntime rt;
    ConfigStore config{rt};
    FakeSoundOutput output;
    SoundFeedback sounds{config, output};
    FakeKeyEventInjection keys;
    FakeClipboard clipboard;
    TextInjector injector{rt, keys, clipboard};
    FakeDictationControl engine;
    ActionExecutor executor{config, engine, injector, keys, sounds, rt};
    FakeGlobalHotKeys hotKeys;
    StopRecordingShortcutManager stopShortcut{config, engine, hotKeys, rt.runtime().main, rt.log};
    NoCenter center;
    AgentMonitor monitor{rt, center, sounds};
    MainThreadWatchdog watchdog{rt, engine};
};

TEST(MainQueueChecksDeathTest, EntryPointsCalledFromAnotherThreadAbortWithTheirName) {
    if (!kSequenceChecks) GTEST_SKIP() << "release build: the checks are compiled away";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char* name;
        std::function<void(CoreParts&)> call;
    };
    const Case cases[] = {
        {"ActionExecutor::execute", [](CoreParts& p) { p.executor.execute(Action::simulateEnter()); }},
        {"TextInjector::injectText",
         [](CoreParts& p) { p.injector.injectText(QStringLiteral("hi"), InjectionMode::keyboard); }},
        {"StopRecordingShortcutManager::registerShortcut", [](CoreParts& p) { p.stopShortcut.registerShortcut(); }},
        {"AgentMonitor::start", [](CoreParts& p) { p.monitor.start(); }},
        {"AgentMonitor::handleAgentEvent", [](CoreParts& p) { p.monitor.handleAgentEvent(QVariantMap{}); }},
        {"MainThreadWatchdog::start", [](CoreParts& p) { p.watchdog.start(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DEATH(
            {
                CoreParts parts;
                std::thread other([&] { c.call(parts); });
                other.join();
            },
            std::string(c.name) + " was called off the thread it belongs to");
    }
}

}  // namespace
}  // namespace vocalynx::test
