// The model manager's bookkeeping over its transfers, with the network played by hand.

#include <gtest/gtest.h>

#include "FakeFileDownloader.h"
#include "engine/ModelManager.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

struct ManagerFixture {
    // Starts a download whose outcome lands in outcomes[slot].
    void start(WhisperModel model, size_t slot) {
        manager->download(model, [this, slot](const Result<QString>& r) {
            outcomes.resize(std::max(outcomes.size(), slot + 1));
            outcomes[slot] = r.isOk() ? QStringLiteral("ok:") + r.value() : QStringLiteral("failed:") + r.error();
        });
    }
    FakeFileDownloader::Started& transfer(size_t i) { return *downloads.started.at(i); }

    FakeFileDownloader downloads;
    std::unique_ptr<ModelManager> manager = std::make_unique<ModelManager>(
        QStringLiteral("/tmp/models"), downloads, QUrl(QStringLiteral("https://example.org/models/")));
    std::vector<QString> outcomes;
};

}  // namespace

TEST(ModelManager, TransfersSideBySideBothCompleteAndOnlyTheNewestReportsProgress) {
    ManagerFixture f;
    f.start(WhisperModel::tiny, 0);
    f.start(WhisperModel::base, 1);
    ASSERT_EQ(f.downloads.started.size(), 2u);
    EXPECT_EQ(f.transfer(0).url, QUrl(QStringLiteral("https://example.org/models/ggml-tiny.bin")));
    EXPECT_EQ(f.transfer(0).destination, f.manager->fileURL(WhisperModel::tiny));
    EXPECT_EQ(f.transfer(1).destination, f.manager->fileURL(WhisperModel::base));

    f.transfer(0).handlers.progress(90, 100);
    EXPECT_EQ(f.manager->downloadProgress(), 0.0) << "the older transfer no longer reports";
    f.transfer(1).handlers.progress(50, 100);
    EXPECT_EQ(f.manager->downloadProgress(), 0.5);
    f.transfer(1).handlers.progress(60, 0);
    EXPECT_EQ(f.manager->downloadProgress(), 0.5) << "an unknown total leaves the progress as it was";

    f.transfer(0).handlers.finished(QStringLiteral("refused"));
    EXPECT_EQ(f.outcomes, (std::vector<QString>{QStringLiteral("failed:refused")}));
    EXPECT_TRUE(f.transfer(0).dropped);
    EXPECT_FALSE(f.transfer(1).dropped);
    EXPECT_NE(f.manager->downloadTask(), nullptr) << "the newer transfer still runs";

    f.transfer(1).handlers.finished(std::nullopt);
    ASSERT_EQ(f.outcomes.size(), 2u);
    EXPECT_EQ(f.outcomes[1], QStringLiteral("ok:") + f.manager->fileURL(WhisperModel::base));
    EXPECT_TRUE(f.transfer(1).dropped);
    EXPECT_EQ(f.manager->downloadTask(), nullptr);
    EXPECT_FALSE(f.manager->isDownloading());
}

TEST(ModelManager, CancelStopsTheNewestTransferAndItsLaterReportsAreIgnored) {
    ManagerFixture f;
    f.start(WhisperModel::tiny, 0);
    f.start(WhisperModel::small, 1);
    f.transfer(1).handlers.progress(25, 100);
    f.manager->cancel();
    EXPECT_EQ(f.transfer(0).cancels, 0);
    EXPECT_EQ(f.transfer(1).cancels, 1);
    EXPECT_EQ(f.manager->downloadTask(), nullptr);
    f.transfer(1).handlers.progress(75, 100);
    EXPECT_EQ(f.manager->downloadProgress(), 0.25);
    f.transfer(1).handlers.finished(QStringLiteral("Operation canceled"));
    EXPECT_EQ(f.outcomes, (std::vector<QString>{QString(), QStringLiteral("failed:Operation canceled")}));
}

TEST(ModelManager, AManagerThatGoesDropsItsTransfersWithoutACompletion) {
    ManagerFixture f;
    f.start(WhisperModel::tiny, 0);
    f.start(WhisperModel::medium, 1);
    f.manager.reset();
    EXPECT_TRUE(f.transfer(0).dropped);
    EXPECT_TRUE(f.transfer(1).dropped);
    EXPECT_TRUE(f.outcomes.empty());
}
