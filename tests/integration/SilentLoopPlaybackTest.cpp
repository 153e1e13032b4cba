// The looping player on the private sound server: what stream it opens, and how a start that the
// server never answers ends.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include "LiveRuntime.h"
#include "gestures/SilentPlayerKeeper.h"
#include "platform/linux/PulseAudioPlayback.h"

namespace vocalynx::test {
namespace {

// The sample format of each of the server's playback streams, as pactl lists them.
QStringList streamFormats() {
    QProcess p;
    p.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")});
    p.waitForFinished(10000);
    QStringList formats;
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split(u'\n'))
        // pactl's "Sample Spec…:" line, for example "s16le 1ch 8000Hz".
        if (line.trimmed().startsWith(QStringLiteral("Sample Spec"))) formats << line.section(u':', 1).trimmed();
    return formats;
}

QString writeClip(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QString::fromLatin1(SilentPlayerKeeper::kClipFileName));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(SilentPlayerKeeper::silentClipWav());
    return path;
}

TEST(SilentLoopPlayback, ASilentLoopIsLowRateSilenceAndTheClipsOwnFormatOnceAudible) {
    guiApplication();
    QTemporaryDir dir;
    PulseAudioPlayback playback;
    QString error;
    auto player = playback.openPlayer(writeClip(dir), &error);
    ASSERT_NE(player, nullptr) << error.toStdString();
    player->setNumberOfLoops(-1);
    player->setVolume(0.0f);
    ASSERT_TRUE(player->play());
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(streamFormats(), QStringList{QStringLiteral("s16le 1ch 8000Hz")});
    // Audible: the stream starts again with the clip's own samples.
    player->setVolume(0.5f);
    EXPECT_TRUE(player->isPlaying());
    EXPECT_EQ(streamFormats(), QStringList{QStringLiteral("float32le 1ch 44100Hz")});
    player->stop();
    EXPECT_FALSE(player->isPlaying());
    EXPECT_TRUE(streamFormats().isEmpty());
}

TEST(SilentLoopPlayback, AServerThatNeverAnswersEndsTheStartAsNotPlaying) {
    guiApplication();
    QTemporaryDir dir;
    // Accepts connections and never says a word.
    QLocalServer silent;
    ASSERT_TRUE(silent.listen(dir.filePath(QStringLiteral("pulse.sock"))));
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", (QStringLiteral("unix:") + dir.filePath(QStringLiteral("pulse.sock"))).toUtf8());
    PulseAudioPlayback playback;
    QString error;
    auto player = playback.openPlayer(writeClip(dir), &error);
    ASSERT_NE(player, nullptr) << error.toStdString();
    player->setVolume(0.0f);
    player->setNumberOfLoops(-1);
    // Starting does not wait for the server; asking whether it plays waits for the start's end,
    // which the deadline brings.
    player->play();
    EXPECT_FALSE(player->isPlaying());
    player->stop();
    qputenv("PULSE_SERVER", saved);
}

}  // namespace
}  // namespace vocalynx::test
