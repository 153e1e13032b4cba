#pragma once
// What the action and injection tests share: a test runtime, a settings store on it, fake keys,
// clipboard and sound output writing into one journal, and the real injector and cues on top.

#include <gtest/gtest.h>

#include "FakeClipboard.h"
#include "FakeDictationControl.h"
#include "FakeKeyEventInjection.h"
#include "TestRuntime.h"
#include "core/ActionExecutor.h"
#include "core/ConfigStore.h"
#include "core/PreferencesDomain.h"
#include "core/SoundFeedback.h"
#include "core/TextInjector.h"

namespace vocalynx::test {

class JournalSoundOutput final : public SoundOutput {
public:
    explicit JournalSoundOutput(std::shared_ptr<QStringList> journal) : journal_(std::move(journal)) {}
    std::optional<SoundId> prepare(const QByteArray&) override { return next_++; }
    void stop(SoundId) override {}
    void play(SoundId id) override { journal_->append(QStringLiteral("sound %1").arg(id)); }

private:
    std::shared_ptr<QStringList> journal_;
    SoundId next_ = 0;
};

class InjectionFixture : public ::testing::Test {
protected:
    void setInjectionMode(InjectionMode mode) {
        PreferencesDomain(config.filePath(), rt.log).setValue(config.injectionModeKey, injectionModeName(mode));
    }
    // The journal entry of a cue (the cues are prepared in their declared order).
    static QString soundEntry(SoundType type) { return QStringLiteral("sound %1").arg(int(type)); }
    QStringList injectionLines() const { return rt.log.lines().filter(QStringLiteral("[Vocalynx][InjectionDiagnostics] ")); }

    TestRuntime rt;
    ConfigStore config{rt};
    std::shared_ptr<QStringList> journal = std::make_shared<QStringList>();
    FakeKeyEventInjection keys{journal};
    FakeClipboard clipboard;
    JournalSoundOutput soundOutput{journal};
    SoundFeedback sounds{config, soundOutput};
    TextInjector injector{rt, keys, clipboard};
    FakeDictationControl engine;
};

}  // namespace vocalynx::test
