// The built program in screenshot mode with an output folder: one hero image per state, written
// into a folder that is created on the way, then a normal exit with nothing else started.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "AppProcess.h"

using vocalynx::test::AppProcess;

namespace {

// Lines that only a normal run prints: updater, agent monitor, watchdog, engine warm-up.
const char* const kNormalRunLines[] = {"[Vocalynx][Sparkle] started", "AgentMonitor started", "[Vocalynx][Watchdog] Started",
                                       "warmUpColi", "coli not found"};

QImage exportState(const QString& state, const QString& folder, QString* output) {
    AppProcess app;
    app.environment().insert(QStringLiteral("VOCALYNX_SCREENSHOT_MODE"), state);
    app.environment().insert(QStringLiteral("VOCALYNX_SCREENSHOT_OUTPUT_DIR"), folder);
    app.start(QStringLiteral(VOCALYNX_APP_BINARY));
    EXPECT_TRUE(app.waitForExit(60000)) << app.output().toStdString();
    EXPECT_EQ(app.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.process().exitCode(), 0);
    *output = app.output();
    return QImage(QDir(folder).filePath(QStringLiteral("vocalynx-notch-") + state.toLower() + QStringLiteral(".png")));
}

TEST(ScreenshotExport, EachStateWritesItsImageAndEnds) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("not/yet/there"));
    const QString artifacts = QStringLiteral(VOCALYNX_ARTIFACTS_DIR "/screenshots");
    QDir().mkpath(artifacts);
    QImage hover, idle;
    for (const QString& state : {QStringLiteral("hover"), QStringLiteral("Recording"), QStringLiteral("transcribing"),
                                 QStringLiteral("idle")}) {
        QString output;
        const QImage image = exportState(state, folder, &output);
        const QString file =
            QDir(folder).filePath(QStringLiteral("vocalynx-notch-") + state.toLower() + QStringLiteral(".png"));
        EXPECT_TRUE(output.contains(QStringLiteral("[Vocalynx][ScreenshotMode] Starting state=") + state.toLower()))
            << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("[Vocalynx][ScreenshotMode] Exported ") + file))
            << output.toStdString();
        EXPECT_EQ(image.size(), QSize(3456, 2160)) << state.toStdString();
        for (const char* line : kNormalRunLines) EXPECT_FALSE(output.contains(QString::fromUtf8(line))) << line;
        QFile::remove(artifacts + QStringLiteral("/") + QFileInfo(file).fileName());
        QFile::copy(file, artifacts + QStringLiteral("/") + QFileInfo(file).fileName());
        if (state == QStringLiteral("hover")) hover = image;
        if (state == QStringLiteral("idle")) idle = image;
    }
    // The hover picture has the expanded panel with the sample track: below the idle tab's height
    // and inside the panel's width the two pictures differ, around the top centre only.
    ASSERT_FALSE(hover.isNull());
    ASSERT_FALSE(idle.isNull());
    const QRect expandedArea(3456 / 2 - 300, 120, 600, 120);
    int differing = 0;
    for (int y = expandedArea.top(); y < expandedArea.bottom(); y += 4)
        for (int x = expandedArea.left(); x < expandedArea.right(); x += 4)
            if (hover.pixel(x, y) != idle.pixel(x, y)) ++differing;
    EXPECT_GT(differing, 500) << "the hover card is drawn";
    EXPECT_EQ(hover.pixel(200, 1900), idle.pixel(200, 1900)) << "the rest of the scene is the same";
}

TEST(ScreenshotExport, AFolderThatCannotBeMadeIsReportedAndTheRunStillEnds) {
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("a-file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString output;
    const QImage image = exportState(QStringLiteral("idle"), dir.filePath(QStringLiteral("a-file/inside")), &output);
    EXPECT_TRUE(image.isNull());
    EXPECT_TRUE(output.contains(QStringLiteral("[Vocalynx][ScreenshotMode] Export failed: "))) << output.toStdString();
}

}  // namespace
