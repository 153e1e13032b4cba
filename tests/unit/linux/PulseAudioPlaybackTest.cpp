#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>

#include "gestures/SilentPlayerKeeper.h"
#include "platform/linux/PulseAudioPlayback.h"
#include "platform/linux/QtSoundOutput.h"

using namespace vocalynx;

TEST(PulseAudioPlayback, TheSilentClipParsesAsOneSecondOfMonoFloat) {
    const auto wav = parseWav(SilentPlayerKeeper::silentClipWav());
    ASSERT_TRUE(wav);
    EXPECT_TRUE(wav->floatSamples);
    EXPECT_EQ(wav->sampleRate, 44100);
    EXPECT_EQ(wav->channels, 1);
    EXPECT_EQ(wav->bitsPerSample, 32);
    EXPECT_EQ(wav->data.size(), 44100 * 4);
}

TEST(PulseAudioPlayback, OpeningFailsWithAReasonForWhatItCannotPlay) {
    QTemporaryDir dir;
    const QString garbage = dir.filePath(QStringLiteral("vocalynx_silence.wav"));
    QFile f(garbage);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a wave");
    f.close();
    // A pipe would hold an open that waits for a writer; a file past the bound is never read.
    const QString pipe = dir.filePath(QStringLiteral("pipe.wav"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString huge = dir.filePath(QStringLiteral("huge.wav"));
    QFile h(huge);
    ASSERT_TRUE(h.open(QIODevice::WriteOnly) && h.resize(PulseAudioPlayback::kMaxFileBytes + 1));
    h.close();
    PulseAudioPlayback playback;
    struct Case {
        QString path;
        const char* reasonPart;
    };
    const Case cases[] = {
        {dir.filePath(QStringLiteral("missing.wav")), "\u201cmissing.wav\u201d couldn\u2019t be opened"},
        {garbage, "not a supported WAV file"},
        {pipe, "not a regular file"},
        {huge, "larger than"}};
    for (const auto& c : cases) {
        QString error;
        EXPECT_EQ(playback.openPlayer(c.path, &error), nullptr);
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.reasonPart))) << error.toStdString();
    }
    QString error;
    ASSERT_TRUE(QFile(garbage).remove());
    QFile clip(garbage);
    ASSERT_TRUE(clip.open(QIODevice::WriteOnly));
    clip.write(SilentPlayerKeeper::silentClipWav());
    clip.close();
    EXPECT_NE(playback.openPlayer(garbage, &error), nullptr) << error.toStdString();
}

TEST(LoopingSampleSource, RepeatsWholeFramesForTheNumberOfLoops) {
    struct Case {
        const char* name;
        QByteArray samples;
        int loops;
        int bytesPerFrame;
        int readSize;
        QByteArray expected;  // everything read until the source runs dry (at most 24 bytes)
    };
    const Case cases[] = {
        {"play once", "abcd", 0, 2, 3, "abcd"},
        {"two more loops across reads", "abcd", 2, 2, 3, "abcdabcdabcd"},
        {"endless", "abcd", -1, 2, 5, "abcdabcdabcdabcdabcdabcd"},
        {"a trailing partial frame is dropped", "abcde", 1, 2, 4, "abcdabcd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopingSampleSource source(c.samples, c.loops, c.bytesPerFrame);
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        QByteArray got;
        while (got.size() < 24) {
            const QByteArray chunk = source.read(std::min<qint64>(c.readSize, 24 - got.size()));
            if (chunk.isEmpty()) break;
            got += chunk;
        }
        EXPECT_EQ(got, c.expected);
        if (c.loops >= 0) { EXPECT_EQ(source.bytesAvailable(), 0); }
    }
}
