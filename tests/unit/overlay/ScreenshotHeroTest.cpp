#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>

#include "LiveRuntime.h"
#include "overlay/ScreenshotHero.h"

namespace vocalynx::test {
namespace {

TEST(ScreenshotHero, RendersTheWholeSceneAtScaleTwo) {
    guiApplication();
    ScreenshotHeroExportView view;
    const QImage image = view.render(2.0);
    EXPECT_EQ(image.size(), QSize(3456, 2160));
    QDir().mkpath(QStringLiteral(VOCALYNX_ARTIFACTS_DIR));
    image.save(QStringLiteral(VOCALYNX_ARTIFACTS_DIR "/hero-scene-without-panel.png"));
}

}  // namespace
}  // namespace vocalynx::test
