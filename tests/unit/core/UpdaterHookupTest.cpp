#include <gtest/gtest.h>

#include "RecordingLogger.h"
#include "core/UpdaterHookup.h"

using namespace vocalynx;
using vocalynx::test::RecordingLogger;

namespace {

class FakeUpdater final : public UpdaterController, public Updater {
public:
    Updater* updater() override { return hasUpdater ? this : nullptr; }
    void checkForUpdates() override { ++userChecks; }
    std::optional<QString> feedURL() const override { return feed; }
    bool automaticallyChecksForUpdates() const override { return autoChecks; }
    bool automaticallyDownloadsUpdates() const override { return autoDownloads; }
    void checkForUpdatesInBackground() override { ++backgroundChecks; }

    bool hasUpdater = true;
    std::optional<QString> feed;
    bool autoChecks = false, autoDownloads = false;
    int userChecks = 0, backgroundChecks = 0;
};

}  // namespace

TEST(UpdaterHookup, StartUpdaterLogsTheSettingsAndChecksWhenAutomatic) {
    struct Case {
        const char* what;
        bool hasController, hasUpdater;
        std::optional<QString> feed;
        bool autoChecks, autoDownloads;
        QStringList lines;
        int backgroundChecks;
    };
    const Case cases[] = {
        {"no controller", false, false, std::nullopt, false, false, {}, 0},
        {"controller without updater", true, false, std::nullopt, true, true, {}, 0},
        {"no feed, nothing automatic", true, true, std::nullopt, false, false,
         {QStringLiteral("[Vocalynx][Sparkle] started feed=nil autoChecks=false autoDownloads=false")},
         0},
        {"automatic checks", true, true, QStringLiteral("https://updates.example/appcast.xml"), true, false,
         {QStringLiteral("[Vocalynx][Sparkle] started feed=https://updates.example/appcast.xml autoChecks=true "
                         "autoDownloads=false"),
          QStringLiteral("[Vocalynx][Sparkle] launch background check requested")},
         1},
        {"automatic downloads only", true, true, std::nullopt, false, true,
         {QStringLiteral("[Vocalynx][Sparkle] started feed=nil autoChecks=false autoDownloads=true")}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingLogger log;
        UpdaterHookup hookup(log);
        FakeUpdater* fake = nullptr;
        if (c.hasController) {
            hookup.createController([&](UpdaterDelegate& delegate) {
                EXPECT_EQ(&delegate, &hookup);
                auto made = std::make_unique<FakeUpdater>();
                fake = made.get();
                fake->hasUpdater = c.hasUpdater;
                fake->feed = c.feed;
                fake->autoChecks = c.autoChecks;
                fake->autoDownloads = c.autoDownloads;
                return made;
            });
        }
        hookup.startUpdater();
        EXPECT_EQ(log.lines(), c.lines);
        if (fake) { EXPECT_EQ(fake->backgroundChecks, c.backgroundChecks); }

        hookup.manualCheckForUpdates();  // without a controller: nothing, and no crash
        if (fake) { EXPECT_EQ(fake->userChecks, 1); }
    }
}

TEST(UpdaterHookup, EachCallbackLogsItsLine) {
    RecordingLogger log;
    UpdaterHookup hookup(log);
    UpdaterDelegate& d = hookup;
    const UpdateItem item{QStringLiteral("1042"), QStringLiteral("1.4.2")};
    d.didFindValidUpdate(item);
    d.didNotFindUpdate(QStringLiteral("You're up to date!"));
    d.didDownloadUpdate(item);
    d.failedToDownloadUpdate(item, QStringLiteral("The network connection was lost."));
    EXPECT_FALSE(d.willInstallUpdateOnQuit(item)) << "the update installs when the program quits";
    d.didAbortWithError(QStringLiteral("Cancelled"));
    d.didFinishUpdateCycle(1, std::nullopt);
    d.didFinishUpdateCycle(0, QStringLiteral("Timed out"));
    EXPECT_EQ(log.lines(),
              (QStringList{
                  QStringLiteral("[Vocalynx][Sparkle] found update version=1042 display=1.4.2"),
                  QStringLiteral("[Vocalynx][Sparkle] no update found: You're up to date!"),
                  QStringLiteral("[Vocalynx][Sparkle] downloaded update version=1042"),
                  QStringLiteral("[Vocalynx][Sparkle] download failed version=1042: The network connection was lost."),
                  QStringLiteral("[Vocalynx][Sparkle] scheduled install on quit version=1042"),
                  QStringLiteral("[Vocalynx][Sparkle] aborted: Cancelled"),
                  QStringLiteral("[Vocalynx][Sparkle] update cycle finished check=1"),
                  QStringLiteral("[Vocalynx][Sparkle] update cycle finished check=0 error=Timed out"),
              }));
}
