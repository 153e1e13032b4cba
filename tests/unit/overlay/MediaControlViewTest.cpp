// The media card on the virtual clock, with the media service over fake players: which content
// shows, what the buttons send, the accent animation, and rendered pictures of each content.

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

#include "FakeMediaPorts.h"
#include "GuiTestApp.h"
#include "TestRuntime.h"
#include "overlay/MediaControlView.h"
#include "overlay/ScreenshotMode.h"

namespace vocalynx::test {
namespace {

using Content = MediaControlView::Content;

TEST(MediaCardContent, ChosenFromTitleAndWarning) {
    struct Case {
        QString title;
        std::optional<QString> warning;
        Content expected;
    };
    const Case cases[] = {
        {QStringLiteral("Song"), std::nullopt, Content::nowPlaying},
        {QStringLiteral("Song"), QStringLiteral("warning"), Content::nowPlaying},  // a known title wins over the hint
        {QStringLiteral(""), QStringLiteral("warning"), Content::permissionHint},
        {QStringLiteral(""), QStringLiteral(""), Content::permissionHint},  // an empty warning is still a warning
        {QStringLiteral(""), std::nullopt, Content::nothingPlaying},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MediaControlView::contentFor(c.title, c.warning), c.expected) << c.title.toStdString();
}

class MediaCardTest : public ::testing::Test {
protected:
    void SetUp() override {
        card.placeContent(QRectF(MediaControlView::kBleed, MediaControlView::kBleed, 440, 70));
        card.resize(440 + 2 * int(MediaControlView::kBleed), 70 + 2 * int(MediaControlView::kBleed));
    }
    void startPlaying(bool playing) {
        musicPlayers.players[QStringLiteral("Music")].status =
            PlayerTrack{playing, QStringLiteral("Song"), QStringLiteral("Singer"), QStringLiteral("Album")};
        players.running = {QStringLiteral("Music")};
        media.startMonitoring();
        rt.time.runUntilIdle();
    }
    QImage render() {
        QImage image(card.size() * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(Qt::black);
        card.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }
    void saveArtifact(const QImage& image, const QString& name) {
        QDir().mkpath(QStringLiteral(VOCALYNX_ARTIFACTS_DIR));
        image.save(QStringLiteral(VOCALYNX_ARTIFACTS_DIR) + QStringLiteral("/") + name);
    }

    QApplication& app = guiTestApp();  // before any widget
    TestRuntime rt;
    FakeMusicPlayers musicPlayers;
    FakeRunningPlayers players;
    FakeHttpClient http;
    FakeImageDecoder images;
    MediaRemoteService media{
        {rt.runtime(), musicPlayers, players, http, images, QUrl(QStringLiteral("https://search.test"))}};
    MediaControlView card{media, rt.time.main(), rt.time, 12};
};

TEST_F(MediaCardTest, ButtonsSendPreviousToggleAndNext) {
    startPlaying(false);  // the middle button toggles whatever its symbol shows
    ASSERT_EQ(card.content(), Content::nowPlaying);
    musicPlayers.clearCalls();
    card.previousButton().click();
    card.playPauseButton().click();
    card.nextButton().click();
    rt.time.runUntilIdle();
    const QStringList commands =
        musicPlayers.calls().filter(QRegularExpression(QStringLiteral(":(previous|toggle|next|play|pause)$")));
    EXPECT_EQ(commands, (QStringList{QStringLiteral("Music:previous"), QStringLiteral("Music:toggle"),
                                     QStringLiteral("Music:next")}));
}

TEST_F(MediaCardTest, AccentChangesMoveTheGlassOverSixTenthsOfASecond) {
    const auto plain = MediaControlView::glassFor(std::nullopt);
    const AccentColor accent{0.8, 0.2, 0.1, 1};
    const auto tinted = MediaControlView::glassFor(accent);
    EXPECT_EQ(card.presentedGlass().base, plain.base);
    EXPECT_EQ(plain.accentShadow.alpha(), 0) << "without an accent the coloured shadow is invisible";

    media.setArtworkAccentColor(accent);
    EXPECT_TRUE(card.isAnimatingAccent());
    EXPECT_EQ(card.presentedGlass().base, plain.base);
    rt.time.advance(0.3);  // half the time, and half the way on an ease-in-out curve
    const auto halfway = card.presentedGlass();
    EXPECT_NEAR(halfway.base.alphaF(), (plain.base.alphaF() + tinted.base.alphaF()) / 2, 0.01);
    EXPECT_NEAR(halfway.materialOpacity, (0.55 + 0.32) / 2, 0.01);
    rt.time.advance(0.35);
    EXPECT_FALSE(card.isAnimatingAccent());
    EXPECT_EQ(card.presentedGlass().tint, tinted.tint);
    EXPECT_NEAR(tinted.accentShadow.alphaF(), 0.126, 0.002);
}

TEST_F(MediaCardTest, RendersEachContent) {
    // Nothing playing.
    const QImage idle = render();
    saveArtifact(idle, QStringLiteral("media-card-nothing-playing.png"));

    // The permission hint, in the warning colour.
    media.setAutomationWarning(QStringLiteral("Music 没有响应，暂时无法读取或控制播放。"
                                              "这是一段很长的说明文字，用来检查提示最多只显示三行，多余的部分会被省略掉，不会溢出卡片。"));
    const QImage hint = render();
    saveArtifact(hint, QStringLiteral("media-card-permission-hint.png"));
    EXPECT_NE(hint, idle);

    // Now playing with the sample cover and accent colour.
    const auto sample = ScreenshotMode::sampleMedia();
    media.setAutomationWarning(std::nullopt);
    media.setTrackTitle(sample.trackTitle);
    media.setArtist(sample.artist);
    media.setIsPlaying(true);
    const QImage cover = ScreenshotMode::makeScreenshotArtwork(1.0).convertToFormat(QImage::Format_RGBA8888);
    media.setArtwork(RgbaImage{cover.width(), cover.height(),
                               QByteArray(reinterpret_cast<const char*>(cover.constBits()), cover.sizeInBytes())});
    media.setArtworkAccentColor(AccentColor{0.55, 0.48, 0.42, 1});
    rt.time.advance(1);
    const QImage playing = render();
    saveArtifact(playing, QStringLiteral("media-card-now-playing.png"));
    EXPECT_TRUE(card.playPauseButton().isVisible() || !card.isVisible());
    // The artwork square sits at the leading edge: its centre shows the cover, not the glass.
    const QPointF artCentre = (QPointF(MediaControlView::kBleed + 12 + 23, MediaControlView::kBleed + 35)) * 2;
    const QColor art = playing.pixelColor(artCentre.toPoint());
    EXPECT_GT(art.red(), 120) << "the warm ellipse of the cover";
}

}  // namespace
}  // namespace vocalynx::test
