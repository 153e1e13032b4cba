#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "FakeProcessTable.h"
#include "LiveRuntime.h"
#include "OverlayFixture.h"
#include "RecordingLogger.h"
#include "WidgetProbe.h"
#include "app/AppDelegate.h"
#include "overlay/NotchOverlayView.h"
#include "overlay/OverlayPanelController.h"
#include "overlay/ScreenshotHero.h"
#include "overlay/ScreenshotMode.h"
#include "overlay/StatusViews.h"

namespace vocalynx::test {
namespace {

using State = ScreenshotMode::State;

TEST(ScreenshotExport, WritesThePngIntoTheFolderCreatingItWhenMissing) {
    QTemporaryDir dir;
    QImage image(8, 6, QImage::Format_ARGB32);
    image.fill(Qt::red);
    struct Case {
        QString folder;
        State state;
    };
    const Case cases[] = {
        {dir.filePath(QStringLiteral("new/nested/out")), State::recording},  // missing folders are made
        {dir.path(), State::hover},                          // an existing folder is fine
        {dir.path(), State::hover},                          // and an older file is replaced
    };
    for (const Case& c : cases) {
        RecordingLogger log;
        ScreenshotMode::writeHeroImage(image, c.state, c.folder, log);
        const QString path = QDir(c.folder).filePath(ScreenshotMode::heroFileName(c.state));
        EXPECT_EQ(log.lines(), QStringList{QStringLiteral("[Vocalynx][ScreenshotMode] Exported ") + path});
        EXPECT_EQ(QImage(path).size(), QSize(8, 6));
    }
    EXPECT_EQ(ScreenshotMode::heroFileName(State::recording), QStringLiteral("vocalynx-notch-recording.png"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("vocalynx-notch-hover.png")})
        << "no temporary file is left beside the image";
}

TEST(ScreenshotExport, ReportsFailuresWithTheirLines) {
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("plain-file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QImage image(4, 4, QImage::Format_ARGB32);
    image.fill(Qt::blue);

    RecordingLogger log;
    ScreenshotMode::writeHeroImage(image, State::idle, dir.filePath(QStringLiteral("plain-file/sub")), log);
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines().first().startsWith(QStringLiteral("[Vocalynx][ScreenshotMode] Export failed: ")))
        << log.lines().first().toStdString();
    EXPECT_GT(log.lines().first().size(), QStringLiteral("[Vocalynx][ScreenshotMode] Export failed: ").size())
        << "the error is described";

    log.clear();
    ScreenshotMode::writeHeroImage(QImage(), State::idle, dir.path(), log);
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("[Vocalynx][ScreenshotMode] Failed to render hero image")});
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("vocalynx-notch-idle.png"))));
}

TEST(ScreenshotStaging, EachStateWritesItsRow) {
    EXPECT_TRUE(ScreenshotMode::stagedEngine(State::hover).hovering);
    EXPECT_EQ(ScreenshotMode::stagedEngine(State::hover).state, RecordingState::idle);
    const auto recording = ScreenshotMode::stagedEngine(State::recording);
    EXPECT_EQ(recording.state, RecordingState::recording);
    EXPECT_TRUE(recording.micReady);
    EXPECT_FALSE(recording.hovering);
    const auto transcribing = ScreenshotMode::stagedEngine(State::transcribing);
    EXPECT_EQ(transcribing.state, RecordingState::transcribing);
    EXPECT_FALSE(transcribing.micReady) << "no connecting cat while transcribing";
    EXPECT_FALSE(transcribing.previewText.isEmpty());
}

// The live scene as the application starts it: the panel at the notch shows the staged words in
// its status row, the same words the exported picture shows.
TEST(ScreenshotLiveScene, ThePanelShowsTheStagedWords) {
    for (State state : {State::recording, State::transcribing}) {
        SCOPED_TRACE(ScreenshotMode::stateName(state).toStdString());
        EngineFixture f;
        FakeProcessTable processes;
        StandardDefaults standard(f.rt.paths().config, f.rt.log);
        FakeScreenList screens;
        screens.list = {notchedLaptopScreen()};
        FakePointer pointer;
        AppDelegate::Components components{f.rt.runtime(), processes, f.config, standard, f.engine, {}, {}};
        components.screens = &screens;
        components.pointer = &pointer;
        AppDelegate delegate(components, ScreenshotMode{state, std::nullopt});
        delegate.applicationDidFinishLaunching();
        f.rt.time.advance(2.0);
        ASSERT_NE(delegate.overlayPanel(), nullptr);
        const QString staged = ScreenshotMode::stagedEngine(state).previewText;
        ASSERT_FALSE(staged.isEmpty());
        QWidget& row = delegate.overlayPanel()->view()->statusRow();
        if (state == State::recording) {
            auto* stream = row.findChild<StreamingTextView*>();
            ASSERT_NE(stream, nullptr);
            EXPECT_EQ(stream->model().stableText + stream->model().newText, staged) << "the row shows the words";
            EXPECT_DOUBLE_EQ(stream->newPieceOpacity(), 1.0);
            saveArtifact(*delegate.overlayPanel()->view(), QStringLiteral("screenshot-live-recording-panel"));
        } else {
            auto* label = row.findChild<StatusTextLabel*>();
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->text(), staged);
        }
    }
    // The typed card of the exported picture holds the sentence the recording state stages.
    EXPECT_EQ(hero::typedSentence(), ScreenshotMode::stagedEngine(State::recording).previewText);
}

TEST(ScreenshotArtwork, GradientRunsFromWarmTopLeftToDarkBottomRight) {
    guiApplication();
    const QImage art = ScreenshotMode::makeScreenshotArtwork(2.0);
    ASSERT_EQ(art.size(), QSize(184, 184));
    const QColor topLeft = art.pixelColor(1, 1);
    const QColor bottomRight = art.pixelColor(182, 182);
    EXPECT_GT(topLeft.redF(), 0.8) << "light warm corner";
    EXPECT_GT(topLeft.redF(), topLeft.blueF());
    EXPECT_LT(bottomRight.redF() + bottomRight.greenF() + bottomRight.blueF(), 0.3) << "dark corner";
    // The warm ellipse sits right of centre and below the middle (its box starts 28 points up).
    const QColor warm = art.pixelColor(int(51 * 2), int((92 - 45) * 2));
    EXPECT_GT(warm.redF(), 0.8);
    EXPECT_GT(warm.redF(), warm.blueF() + 0.3);
}

}  // namespace
}  // namespace vocalynx::test
