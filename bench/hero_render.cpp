// Measures how long screenshot mode takes to render one hero image (staging, composition and the
// 3456 x 2160 bitmap), and with the PNG encoded and written, for each staged state. Runs off screen.

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

#include "FakeMediaPorts.h"
#include "FakeScreens.h"
#include "FakeSoundOutput.h"
#include "GuiTestApp.h"
#include "TestRuntime.h"
#include "core/ConfigStore.h"
#include "core/SoundFeedback.h"
#include "engine/WhisperEngine.h"
#include "gestures/MediaRemoteService.h"
#include "overlay/ScreenshotScene.h"

using namespace vocalynx;
using namespace vocalynx::test;

int main() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    guiTestApp();
    TestRuntime rt;
    ConfigStore config{rt};
    FakeSoundOutput soundOutput;
    SoundFeedback sounds{config, soundOutput};
    WhisperEngine engine{{rt.runtime(), config, sounds}};
    FakeMusicPlayers musicPlayers;
    FakeRunningPlayers players;
    FakeHttpClient http;
    FakeImageDecoder images;
    MediaRemoteService media{
        {rt.runtime(), musicPlayers, players, http, images, QUrl(QStringLiteral("https://search.test"))}};
    FakeScreenList screens;
    screens.list.push_back(plainScreen(QRectF(0, 0, 1728, 1080), 25, QStringLiteral("eDP-1"), true));
    FakePointer pointer;
    const ScreenshotScene scene{rt.runtime(), config, engine, &media, screens, pointer};

    const ScreenshotMode::State states[] = {ScreenshotMode::State::hover, ScreenshotMode::State::recording,
                                            ScreenshotMode::State::transcribing, ScreenshotMode::State::idle};
    scene.renderHeroImage(ScreenshotMode::State::idle);  // fonts and resources loaded once
    QTemporaryDir folder;
    for (auto state : states) {
        QElapsedTimer timer;
        timer.start();
        const QImage image = scene.renderHeroImage(state);
        const double renderMs = timer.nsecsElapsed() / 1e6;
        ScreenshotMode::writeHeroImage(image, state, folder.path(), rt.log);
        const double totalMs = timer.nsecsElapsed() / 1e6;
        std::printf("%-12s %dx%d rendered in %.0f ms, %.0f ms with the PNG written (target: under 2000 ms)\n",
                    ScreenshotMode::stateName(state).toUtf8().constData(), image.width(), image.height(), renderMs,
                    totalMs);
    }
    return 0;
}
