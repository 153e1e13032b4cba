#include <gtest/gtest.h>

#include <memory>

#include <QDir>
#include <QRegularExpression>

#include "FakeAudioPlayback.h"
#include "FakeClipboard.h"
#include "FakeDictationControl.h"
#include "FakeKeyEventInjection.h"
#include "FakeRemoteCommands.h"
#include "FakeSoundOutput.h"
#include "FakeProcessTable.h"
#include "TestRuntime.h"
#include "app/AppDelegate.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// The launch road with a real gesture engine and router over fake commands, audio and dictation.
struct GestureLaunchFixture {
    GestureLaunchFixture() : standard(rt.paths().config, rt.log) { QDir().mkpath(rt.paths().temp); }
    AppDelegate makeDelegate() {
        AppDelegate::Components components{rt.runtime(), processes, config, standard, engine, {}, {}};
        components.gestureEngine = &gestures;
        components.gestureRouter = &router;
        return AppDelegate(std::move(components), std::nullopt);
    }
    TestRuntime rt;
    FakeProcessTable processes;
    ConfigStore config{rt.runtime()};
    StandardDefaults standard;
    FakeSoundOutput output;
    SoundFeedback sounds{config, output};
    WhisperEngine engine{{rt.runtime(), config, sounds}};
    FakeRemoteCommands commands;
    FakeAudioPlayback audio;
    GestureEngine gestures{{rt.runtime(), commands, commands, audio}};
    FakeKeyEventInjection keys;
    FakeClipboard clipboard;
    TextInjector injector{rt.runtime(), keys, clipboard};
    FakeDictationControl dictation;
    ActionExecutor executor{config, dictation, injector, keys, sounds, rt.runtime()};
    GestureRouter router{config, executor};
};

}  // namespace

// The gesture engine lives on after the delegate (the application's components outlive it): a
// gesture then must not reach into the destroyed delegate.
TEST(GestureEntry, AGestureAfterTheDelegateIsGoneReachesNothing) {
    GestureLaunchFixture f;
    AppDelegate::Components components{f.rt.runtime(), f.processes, f.config, f.standard, f.engine, {}, {}};
    components.gestureEngine = &f.gestures;
    components.gestureRouter = &f.router;
    auto delegate = std::make_unique<AppDelegate>(std::move(components), std::nullopt);
    delegate->applicationDidFinishLaunching();
    delegate.reset();
    f.rt.log.clear();
    f.commands.send(RemoteCommand::togglePlayPause);
    f.rt.time.advance(0.3);
    EXPECT_EQ(f.dictation.starts, 0);
    EXPECT_TRUE(f.rt.log.lines().filter(QStringLiteral("[Vocalynx][GestureEntry] ")).isEmpty());
}

TEST(GestureEntry, LaunchStartsTheEngineAndRoutesEachGestureToItsAction) {
    GestureLaunchFixture f;
    auto delegate = f.makeDelegate();
    delegate.applicationDidFinishLaunching();
    ASSERT_EQ(f.commands.order.size(), 5u) << "the engine listens for the five commands";
    f.rt.time.runUntilIdle();  // the silent player starts once its clip is checked and opened
    EXPECT_TRUE(f.rt.log.contains(QStringLiteral("[Vocalynx] Silent AVAudioPlayer running: true")));

    // A single press starts a dictation, the next one stops it.
    f.commands.send(RemoteCommand::togglePlayPause);
    f.rt.time.advance(0.3);
    EXPECT_EQ(f.dictation.starts, 1);
    const QStringList entries = f.rt.log.lines().filter(QStringLiteral("[Vocalynx][GestureEntry] "));
    ASSERT_EQ(entries.size(), 1);
    EXPECT_TRUE(
        QRegularExpression(
            QStringLiteral(
                R"(^\[Vocalynx\]\[GestureEntry\] ts=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z uptime=\d+\.\ds event=single state=idle$)"))
            .match(entries[0])
            .hasMatch())
        << entries[0].toStdString();
    f.commands.send(RemoteCommand::togglePlayPause);
    f.rt.time.advance(0.3);
    EXPECT_EQ(f.dictation.stops, 1);

    // Next track is a double press: Return by default; previous track a triple: Escape.
    f.keys.trusted = true;
    f.commands.send(RemoteCommand::nextTrack);
    f.rt.time.runUntilIdle();
    f.rt.time.advance(0.2);  // past the rapid-command limit that next and previous share
    f.commands.send(RemoteCommand::previousTrack);
    f.rt.time.runUntilIdle();
    EXPECT_EQ(f.keys.journal->filter(QStringLiteral("key ")),
              (QStringList{QStringLiteral("key 36 flags 0x0"), QStringLiteral("key 53 flags 0x0")}));
    EXPECT_EQ(f.rt.log.lines().filter(QStringLiteral("[Vocalynx][GestureEntry] ")).size(), 4);
    EXPECT_TRUE(f.rt.log.lines()
                    .filter(QStringLiteral("[Vocalynx][GestureEntry] "))
                    .last()
                    .endsWith(QStringLiteral(" event=triple state=idle")));
}
