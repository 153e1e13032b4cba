#include <QSettings>

#include "SettingsTestFixture.h"
#include "windows/SoundSettingsPane.h"

namespace vocalynx::test {
namespace {

// Cues are prepared in SoundType order, so a cue's sound id is its position plus one.
int soundId(SoundType type) { return static_cast<int>(type) + 1; }

TEST_F(SettingsFixture, SoundRowsFollowTheStoreAndWriteEachFlip) {
    {
        SoundSettingsPane pane(env);
        pane.show();
        const SoundType rows[] = {SoundType::stopRecording, SoundType::confirm,       SoundType::cancel,
                                  SoundType::agentStart,    SoundType::agentComplete, SoundType::agentPermission};
        for (SoundType type : rows) {
            ASSERT_NE(pane.row(type), nullptr) << soundTypeName(type).toStdString();
            EXPECT_TRUE(pane.row(type)->enabled()) << "an empty store shows every cue on";
        }
        EXPECT_EQ(pane.row(SoundType::startRecording), nullptr) << "the start cue cannot be switched off here";

        pane.row(SoundType::confirm)->toggle()->click();
        EXPECT_FALSE(QSettings(config.filePath(), QSettings::IniFormat).value("sound_enabled_confirm", true).toBool());
        pane.row(SoundType::confirm)->previewSound();
        EXPECT_EQ(soundOutput.plays(soundId(SoundType::confirm)), 0) << "a switched-off cue is silent in the preview";
    }
    SoundSettingsPane reopened(env);
    reopened.show();
    EXPECT_FALSE(reopened.row(SoundType::confirm)->enabled());
    EXPECT_TRUE(reopened.row(SoundType::cancel)->enabled());
}

TEST_F(SettingsFixture, PreviewRestartsTheCueInsteadOfOverlapping) {
    SoundSettingsPane pane(env);
    pane.show();
    pane.row(SoundType::agentStart)->previewButton()->click();
    pane.row(SoundType::agentStart)->previewButton()->click();
    const int id = soundId(SoundType::agentStart);
    EXPECT_EQ(soundOutput.calls, (QStringList{QStringLiteral("stop %1").arg(id), QStringLiteral("play %1").arg(id),
                                              QStringLiteral("stop %1").arg(id), QStringLiteral("play %1").arg(id)}));
}

}  // namespace
}  // namespace vocalynx::test
