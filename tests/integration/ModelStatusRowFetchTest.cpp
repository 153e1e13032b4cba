// The voice-model row fetching the model through the stand-in speech program, found and started
// the way the speech engine finds and starts the real one.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "LiveRuntime.h"
#include "core/ConfigStore.h"
#include "engine/ColiCommand.h"
#include "platform/linux/PosixProcessLauncher.h"
#include "windows/FormWidgets.h"
#include "windows/ModelStatusRow.h"

namespace vocalynx::test {
namespace {

const QString kStandIn = QStringLiteral(VOCALYNX_TEST_TOOLS_DIR "/coli_standin");

class ModelStatusRowFetch : public ::testing::Test {
protected:
    ModelStatusRowFetch() {
        // The stand-in where the speech program is looked for, and an old model to be replaced.
        QDir().mkpath(home() + QStringLiteral("/.local/bin"));
        QFile::link(kStandIn, home() + QStringLiteral("/.local/bin/coli"));
        QDir().mkpath(files.modelDir + QStringLiteral("/old"));
        QFile old(files.modelDir + QStringLiteral("/old/tokens.txt"));
        old.open(QIODevice::WriteOnly);
        old.write("old");
        old.close();

        ColiLocator::Environment environment = ColiLocator::processEnvironment();
        environment.insert(QStringLiteral("COLI_STANDIN_FETCH_MODEL"), files.modelFile);
        environment.insert(QStringLiteral("COLI_STANDIN_LOG"), rt.root() + QStringLiteral("/standin.log"));
        locator = std::make_unique<ColiLocator>(home(), QString(), environment, &launcher);
        env.speechProgram.locateColi = [this] { return locator->locateColi(); };
        env.speechProgram.makeColiArguments = [this] { return locator->makeColiArguments(); };
        env.speechProgram.launcher = &launcher;
    }
    QString home() { return rt.runtime().paths.home; }

    QApplication& app = guiApplication();
    LiveRuntime rt;
    ConfigStore config{rt};
    PosixProcessLauncher launcher;
    SpeechModelFiles files{rt.runtime().paths.home};
    std::unique_ptr<ColiLocator> locator;
    SettingsEnvironment env{rt.runtime(), config};
};

TEST_F(ModelStatusRowFetch, TheProgramFetchesTheModelAndTheRowShowsItsProgress) {
    ModelStatusRow row(env);
    QStringList shown;
    QObject::connect(&row, &ModelStatusRow::stateChanged, [&] {
        if (shown.isEmpty() || shown.last() != row.statusText()) shown << row.statusText();
    });
    row.show();
    ASSERT_TRUE(processEventsUntil([&] { return row.statusText() == QStringLiteral("未就绪，请重新下载") && !shown.isEmpty(); }));
    EXPECT_FALSE(row.isReady()) << "the old folder holds no model file";

    row.button()->click();
    ASSERT_TRUE(processEventsUntil([&] { return !row.isDownloading(); }, 20000))
        << shown.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(row.isReady()) << shown.join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(row.statusText(), QStringLiteral("已就绪"));
    EXPECT_EQ(row.buttonText(), QStringLiteral("重新下载"));
    EXPECT_FALSE(QFileInfo::exists(files.modelDir + QStringLiteral("/old"))) << "the old folder was removed first";
    EXPECT_EQ(QFileInfo(files.modelFile).size(), 200000000);
    EXPECT_TRUE(shown.contains(QStringLiteral("准备下载…")));
    EXPECT_TRUE(shown.contains(QStringLiteral("下载语音模型…")));
    EXPECT_TRUE(shown.contains(QStringLiteral("下载中 12.5%")) || shown.contains(QStringLiteral("下载中 100.0%")))
        << shown.join(QStringLiteral(" | ")).toStdString();

    QFile log(rt.root() + QStringLiteral("/standin.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(logged.contains(QStringLiteral("args=asr-stream"))) << logged.toStdString();
    EXPECT_TRUE(logged.contains(QStringLiteral("eof"))) << "standard input was empty";
}

TEST_F(ModelStatusRowFetch, AProgramThatLeavesNoModelEndsWithTheErrorText) {
    ColiLocator::Environment environment = ColiLocator::processEnvironment();
    environment.insert(QStringLiteral("COLI_STANDIN_FETCH_MODEL"), files.modelFile);
    environment.insert(QStringLiteral("COLI_STANDIN_FETCH_SIZE"), QStringLiteral("199999999"));
    locator = std::make_unique<ColiLocator>(home(), QString(), environment, &launcher);
    ModelStatusRow row(env);
    row.show();
    row.startModelDownload();
    ASSERT_TRUE(processEventsUntil([&] { return !row.isDownloading(); }, 20000));
    EXPECT_FALSE(row.isReady());
    EXPECT_EQ(row.statusText(), QStringLiteral("未就绪，请重新下载"));
    EXPECT_EQ(row.buttonText(), QStringLiteral("下载"));
}

}  // namespace
}  // namespace vocalynx::test
