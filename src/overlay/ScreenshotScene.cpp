#include "overlay/ScreenshotScene.h"

#include <QCoreApplication>

#include "engine/WhisperEngine.h"
#include "gestures/MediaRemoteService.h"
#include "overlay/MediaControlView.h"
#include "overlay/NotchGeometry.h"
#include "overlay/NotchOverlayView.h"
#include "overlay/OverlayPanelState.h"
#include "overlay/ScreenshotHero.h"

namespace vocalynx {

namespace {

RgbaImage toRgba(const QImage& image) {
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    RgbaImage out{rgba.width(), rgba.height(), QByteArray()};
    out.pixels.reserve(qsizetype(rgba.width()) * rgba.height() * 4);
    for (int y = 0; y < rgba.height(); ++y)
        out.pixels.append(reinterpret_cast<const char*>(rgba.constScanLine(y)), qsizetype(rgba.width()) * 4);
    return out;
}

}  // namespace

void ScreenshotScene::applyScreenshotMockData(ScreenshotMode::State state) const {
    const auto staged = ScreenshotMode::stagedEngine(state);
    engine.stagePublishedValues(staged.state, staged.previewText, staged.micReady);
    if (!media) return;
    const auto sample = ScreenshotMode::sampleMedia();
    media->setTrackTitle(sample.trackTitle);
    media->setArtist(sample.artist);
    media->setAlbum(sample.album);
    media->setArtwork(toRgba(ScreenshotMode::makeScreenshotArtwork(2.0)));
    const QColor c = sample.artworkAccentColor;
    media->setArtworkAccentColor(AccentColor{c.redF(), c.greenF(), c.blueF(), c.alphaF()});
    media->setIsPlaying(true);
    media->setActivePlayer(sample.activePlayer);
    media->setAutomationWarning(std::nullopt);
}

QImage ScreenshotScene::renderHeroImage(ScreenshotMode::State state) const {
    const NotchMetrics metrics = NotchMetrics::measure(targetScreen(config, screens, pointer), screens);
    OverlayPanelState panelState;
    panelState.setHovering(ScreenshotMode::stagedEngine(state).hovering);
    auto* overlay = new NotchOverlayView(runtime, panelState, metrics);
    overlay->observeEngine(engine);
    MediaControlView* card = nullptr;
    if (media) {
        card = new MediaControlView(*media, runtime.main, runtime.clock, 12);
        overlay->setMediaCard(card);
    }
    // The values are staged after the view exists: the live transcript only shows words that
    // arrive while its row is on screen, and the picture is meant to show them.
    applyScreenshotMockData(state);
    if (card) card->finishAnimations();
    overlay->finishAnimations();
    ScreenshotHeroExportView hero(overlay);
    return hero.render(2.0);
}

void ScreenshotScene::exportHeroImage(const ScreenshotMode& mode) const {
    ScreenshotMode::writeHeroImage(renderHeroImage(mode.state), mode.state, mode.outputDirectory.value_or(QString()),
                                   runtime.log);
    runtime.main.post([] { QCoreApplication::quit(); });
}

}  // namespace vocalynx
