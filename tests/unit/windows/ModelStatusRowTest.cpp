#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>

#include "FakeProcesses.h"
#include "SettingsTestFixture.h"
#include "windows/FormWidgets.h"
#include "windows/ModelStatusRow.h"
#include "windows/SettingsStyle.h"

namespace vocalynx::test {
namespace {

TEST(ModelStatusRowParsing, ProgressTextOfOneChunk) {
    struct Case {
        const char* name;
        QByteArray chunk;
        std::optional<QString> text;
    };
    const Case cases[] = {
        {"a percentage", "Downloading 45.3% 12MB", QStringLiteral("下载中 45.3%")},
        {"only the last line of a chunk counts", "12.5% 30MB\n13.0% 31MB\n", QStringLiteral("下载中 13.0%")},
        {"a size without a percentage", "120 MB", QStringLiteral("下载中…")},
        {"kilobytes", "512KB", QStringLiteral("下载中…")},
        {"a percentage without a decimal point", "50% done", QStringLiteral("下载中…")},
        {"the first match of the line", "\r 1.0% \r 2.0%", QStringLiteral("下载中 1.0%")},
        {"extracting", "Extracting sherpa-onnx.tar.bz2", QStringLiteral("解压中…")},
        {"ready", "model ready", QStringLiteral("解压中…")},
        {"Ready with a capital is not ready", "Ready", std::nullopt},
        {"other text", "Connecting to huggingface.co", std::nullopt},
        {"an empty last line is dropped", "40.0% 10MB\n\n\n", QStringLiteral("下载中 40.0%")},
        {"only line feeds", "\n\n", std::nullopt},
        {"empty", "", std::nullopt},
        {"not UTF-8", QByteArray("12.5% \xff\xfe MB"), std::nullopt},
        {"an earlier progress line does not count", "30.0% 5MB\nhello", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(ModelStatusRow::progressText(c.chunk), c.text) << c.name;
}

class ModelStatusRowTest : public SettingsFixture {
protected:
    ModelStatusRowTest() {
        env.speechProgram.locateColi = [this]() -> std::optional<QString> {
            ++locates;
            if (!coliFound) return std::nullopt;
            return QStringLiteral("/usr/local/bin/coli");
        };
        env.speechProgram.makeColiArguments = [this]() -> std::optional<LaunchCommand> {
            if (!coliFound) return std::nullopt;
            return LaunchCommand{QStringLiteral("/usr/local/bin/coli"), {QStringLiteral("asr-stream")}, {}};
        };
        env.speechProgram.searchedPlaces = [] { return QStringList{QStringLiteral("/usr/local/bin/coli"), QStringLiteral("PATH")}; };
        env.speechProgram.launcher = &launcher;
    }
    // What the row says when the speech program is found nowhere: what is needed and where it
    // was looked for, as the alert at a press says.
    static QString missingProgramText() {
        return QStringLiteral("Vocalynx 需要语音识别程序 coli 才能识别语音，但在这些位置都没有找到它：/usr/local/bin/coli、"
                              "PATH 中的目录。安装 coli 后再次开始听写即可，无需重启 Vocalynx。");
    }
    void writeModel(long long size) {
        QDir().mkpath(files.modelDir);
        QFile f(files.modelFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        ASSERT_EQ(::truncate(QFile::encodeName(files.modelFile).constData(), size), 0);  // sparse
    }
    // Shows the row and lets its background check come back.
    void show(ModelStatusRow& row) {
        row.show();
        rt.time.runUntilIdle();
    }

    SpeechModelFiles files{rt.paths().home};
    FakeProcessLauncher launcher;
    bool coliFound = true;
    int locates = 0;
};

TEST_F(ModelStatusRowTest, ReadinessNeedsTheProgramAndAFullSizedModel) {
    struct Case {
        const char* name;
        bool coli;
        std::optional<long long> size;
        bool ready;
    };
    const Case cases[] = {
        {"exactly the minimum", true, 200000000, true},
        {"one byte short", true, 199999999, false},
        {"no model file", true, std::nullopt, false},
        {"no speech program", false, 300000000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(files.modelDir).removeRecursively();
        if (c.size) writeModel(*c.size);
        coliFound = c.coli;
        ModelStatusRow row(env);
        EXPECT_EQ(row.statusText(), QStringLiteral("未就绪，请重新下载")) << "until the first check is back";
        show(row);
        EXPECT_EQ(row.isReady(), c.ready);
        EXPECT_EQ(row.statusText(), c.ready  ? QStringLiteral("已就绪")
                                    : c.coli ? QStringLiteral("未就绪，请重新下载")
                                             : missingProgramText());
        EXPECT_EQ(row.statusColor(), c.ready ? ui::green() : ui::red());
        EXPECT_EQ(row.buttonText(), c.ready ? QStringLiteral("重新下载") : QStringLiteral("下载"));
        EXPECT_EQ(row.buttonProminent(), !c.ready);
    }
}

TEST_F(ModelStatusRowTest, ARefetchRemovesTheModelRunsTheProgramAndShowsItsProgress) {
    writeModel(250000000);
    QFile archive(files.archive);
    ASSERT_TRUE(archive.open(QIODevice::WriteOnly));
    archive.close();
    ModelStatusRow row(env);
    show(row);
    ASSERT_TRUE(row.isReady());

    row.button()->click();
    EXPECT_TRUE(row.isDownloading());
    EXPECT_EQ(row.statusText(), QStringLiteral("准备下载…"));
    EXPECT_EQ(row.statusColor(), ui::secondary());
    EXPECT_EQ(row.buttonText(), QStringLiteral("重新下载")) << "a ready row keeps its button while refetching";
    EXPECT_FALSE(row.buttonEnabled());
    EXPECT_TRUE(QFileInfo::exists(files.modelDir)) << "nothing is removed on the main thread";

    rt.time.runUntilIdle();
    EXPECT_FALSE(QFileInfo::exists(files.modelDir));
    EXPECT_FALSE(QFileInfo::exists(files.archive));
    auto child = launcher.last();
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->command.arguments, QStringList{QStringLiteral("asr-stream")});
    EXPECT_TRUE(child->in->closed()) << "the program sees the end of its input at once";
    EXPECT_EQ(row.statusText(), QStringLiteral("下载语音模型…"));

    child->err->feed("Downloading 12.5% 30MB");
    rt.time.runUntilIdle();
    EXPECT_EQ(row.statusText(), QStringLiteral("下载中 12.5%"));
    row.resize(350, 44);
    renderArtifact(row, QStringLiteral("model-row-downloading"));
    child->out->feed("Extracting archive");
    rt.time.runUntilIdle();
    EXPECT_EQ(row.statusText(), QStringLiteral("解压中…"));
    EXPECT_TRUE(row.isReady()) << "readiness changes only with a check";

    writeModel(230000000);
    child->exit();
    EXPECT_FALSE(child->out->hasHandler());
    EXPECT_FALSE(child->err->hasHandler());
    rt.time.runUntilIdle();
    EXPECT_FALSE(row.isDownloading());
    EXPECT_TRUE(row.isReady());
    EXPECT_EQ(row.statusText(), QStringLiteral("已就绪"));
    EXPECT_EQ(row.buttonText(), QStringLiteral("重新下载"));
    EXPECT_TRUE(row.buttonEnabled());
    renderArtifact(row, QStringLiteral("model-row-ready"));
}

TEST_F(ModelStatusRowTest, EveryFailedFetchEndsWithTheErrorText) {
    struct Case {
        const char* name;
        bool coli;
        bool launchFails;
    };
    const Case cases[] = {
        {"no speech program", false, false},
        {"the program cannot be started", true, true},
        {"the program exits without the model", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        coliFound = c.coli;
        launcher.launchError = c.launchFails ? std::optional<QString>(QStringLiteral("no such file")) : std::nullopt;
        const size_t launchedBefore = launcher.launched().size();
        ModelStatusRow row(env);
        show(row);
        row.startModelDownload();
        rt.time.runUntilIdle();
        if (launcher.launched().size() > launchedBefore) launcher.last()->exit();
        rt.time.runUntilIdle();
        EXPECT_FALSE(row.isDownloading());
        EXPECT_FALSE(row.isReady());
        EXPECT_EQ(row.downloadError(), QStringLiteral("未就绪，请重新下载"));
        EXPECT_EQ(row.statusText(), c.coli ? QStringLiteral("未就绪，请重新下载") : missingProgramText());
        EXPECT_EQ(row.statusColor(), ui::red());
        EXPECT_EQ(row.buttonText(), QStringLiteral("下载"));
        EXPECT_TRUE(row.buttonEnabled());
    }
}

TEST_F(ModelStatusRowTest, AModelFailureChecksAgainUnlessAFetchIsRunning) {
    ModelStatusRow row(env);
    show(row);
    const int afterShow = locates;
    rt.notifications.post(notifications::vocalynxModelLoadFailed);
    rt.time.runUntilIdle();
    EXPECT_EQ(locates, afterShow + 1);

    row.startModelDownload();
    rt.time.runUntilIdle();
    const int duringFetch = locates;
    rt.notifications.post(notifications::vocalynxModelLoadFailed);
    rt.time.runUntilIdle();
    EXPECT_EQ(locates, duringFetch);
    launcher.last()->exit();
    rt.time.runUntilIdle();
}

// A check that reads the files after the fetch removed them (on the worker pool a check asked for
// just before the press can run after the removal) must not turn a ready row into "下载中…".
TEST_F(ModelStatusRowTest, ChecksOverlappingAFetchLeaveReadinessAlone) {
    writeModel(250000000);
    ModelStatusRow row(env);
    show(row);
    ASSERT_TRUE(row.isReady());

    row.button()->click();
    rt.time.runUntilIdle();  // the model is gone, the program runs
    ASSERT_FALSE(QFileInfo::exists(files.modelFile));
    row.checkModelReady();
    row.hide();
    row.show();  // shown again: another check
    rt.time.runUntilIdle();
    EXPECT_TRUE(row.isDownloading());
    EXPECT_TRUE(row.isReady()) << "readiness keeps its earlier value during a fetch";
    EXPECT_EQ(row.buttonText(), QStringLiteral("重新下载"));
    EXPECT_FALSE(row.buttonEnabled());

    // The fetch's own check decides once the program has ended.
    launcher.last()->exit();  // exits without a model
    rt.time.runUntilIdle();
    EXPECT_FALSE(row.isDownloading());
    EXPECT_FALSE(row.isReady());
    EXPECT_EQ(row.statusText(), QStringLiteral("未就绪，请重新下载"));
}

TEST_F(ModelStatusRowTest, ResultsForARowThatIsGoneAreDropped) {
    {
        ModelStatusRow row(env);
        row.show();
        row.startModelDownload();
    }
    rt.time.runUntilIdle();  // the check and the fetch come back after the row is gone
    ASSERT_NE(launcher.last(), nullptr) << "the fetch goes on without the row";
    launcher.last()->err->feed("50.0% 100MB");
    launcher.last()->exit();
    rt.time.runUntilIdle();
    rt.notifications.post(notifications::vocalynxModelLoadFailed);  // no observer is left behind
    rt.time.runUntilIdle();
}

}  // namespace
}  // namespace vocalynx::test
