#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <set>

#include "FakeProcesses.h"
#include "TestRuntime.h"
#include "engine/ColiOrphanCleanup.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

const QString coli = QStringLiteral("/opt/coli/bin/coli");

class FakeTable final : public ProcessTable {
public:
    std::vector<pid_t> otherInstances() override { return {}; }
    void requestTerminate(pid_t pid) override {
        calls << QStringLiteral("TERM %1").arg(pid);
        if (!stubborn.count(pid)) alive.erase(pid);
    }
    pid_t selfPid() override { return self; }
    std::vector<ProcessEntry> processes() override { return table; }
    void forceKill(pid_t pid) override { calls << QStringLiteral("KILL %1").arg(pid); }
    bool exists(pid_t pid) override { return alive.count(pid) > 0; }

    pid_t self = 500;
    std::vector<ProcessEntry> table;
    std::set<pid_t> alive;
    std::set<pid_t> stubborn;  // survive SIGTERM
    QStringList calls;
};

}  // namespace

TEST(ColiOrphanCleanup, Selection) {
    // 1 <- 10 (a subreaper such as the user's service manager) <- 20 (terminal) <- 500 (us)
    const std::vector<ProcessEntry> table{
        {10, 1, QStringLiteral("/lib/systemd/systemd --user")},
        {20, 10, QStringLiteral("terminal")},
        {500, 20, QStringLiteral("vocalynx")},
        {101, 1, coli + QStringLiteral(" asr-stream --json")},      // orphan under process 1
        {102, 10, coli + QStringLiteral(" asr-stream --json")},     // orphan under the subreaper
        {103, 500, coli + QStringLiteral(" asr-stream --json")},    // our own child
        {104, 20, coli + QStringLiteral(" asr-stream")},            // under our parent
        {105, 77, coli + QStringLiteral(" asr-stream --json")},     // someone else's recogniser
        {106, 1, coli + QStringLiteral(" models fetch")},           // not the streaming recogniser
        {107, 1, QStringLiteral("/usr/bin/coli asr-stream")},       // another program path
        // a script run by node: the path is in the line
        {108, 1, QStringLiteral("node ") + coli + QStringLiteral(" asr-stream")},
    };
    EXPECT_EQ(ColiOrphanCleanup::selectOrphans(table, 500, coli), (std::vector<pid_t>{101, 102, 103, 104, 108}));
}

TEST(ColiOrphanCleanup, SelectionSurvivesAParentLoop) {
    const std::vector<ProcessEntry> table{{500, 30, QStringLiteral("vocalynx")},
                                          {30, 31, QStringLiteral("a")},
                                          {31, 30, QStringLiteral("b")},
                                          {200, 31, coli + QStringLiteral(" asr-stream")}};
    EXPECT_EQ(ColiOrphanCleanup::selectOrphans(table, 500, coli), (std::vector<pid_t>{200}));
}

class OrphanCleanupRun : public ::testing::Test {
protected:
    OrphanCleanupRun() {
        const QString path = rt.paths().home + QStringLiteral("/.local/bin/coli");
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        located = path;
    }
    TestRuntime rt;
    FakeProcessLauncher launcher;
    FakeTable table;
    QString located;
    ColiLocator locator{rt.paths().home, rt.paths().resources, {}, &launcher};
    std::vector<pid_t> observed;
    ColiOrphanCleanup cleanup{rt.runtime(), table, locator, [this](pid_t p) { observed.push_back(p); }};
};

TEST_F(OrphanCleanupRun, TermsThenKillsOnlyTheSurvivors) {
    table.table = {{500, 1, QStringLiteral("vocalynx")},
                   {123, 1, located + QStringLiteral(" asr-stream")},
                   {124, 500, located + QStringLiteral(" asr-stream")}};
    table.alive = {123, 124};
    table.stubborn = {124};
    const MonoTime before = rt.time.now();
    cleanup.cleanupOrphanedColiProcesses();
    EXPECT_EQ(table.calls,
              (QStringList{QStringLiteral("TERM 123"), QStringLiteral("TERM 124"), QStringLiteral("KILL 124")}));
    EXPECT_EQ(observed, (std::vector<pid_t>{123, 124}));
    EXPECT_DOUBLE_EQ(secondsBetween(before, rt.time.now()), 0.3);
    EXPECT_EQ(rt.log.lines(), (QStringList{QStringLiteral("[Vocalynx] Cleaning orphaned coli process pid=123"),
                                           QStringLiteral("[Vocalynx] Cleaning orphaned coli process pid=124")}));
}

TEST_F(OrphanCleanupRun, NothingFoundNeitherSleepsNorKills) {
    table.table = {{500, 1, QStringLiteral("vocalynx")}};
    const MonoTime before = rt.time.now();
    cleanup.cleanupOrphanedColiProcesses();
    EXPECT_TRUE(table.calls.isEmpty());
    EXPECT_EQ(rt.time.now(), before);
}

TEST(ColiOrphanCleanupNoProgram, ReturnsQuietlyWithoutAProgram) {
    TestRuntime rt;
    FakeProcessLauncher launcher;  // which prints nothing
    FakeTable table;
    table.table = {{123, 1, QStringLiteral("/x/coli asr-stream")}};
    ColiLocator locator{rt.paths().home, rt.paths().resources, {}, &launcher};
    ColiOrphanCleanup(rt.runtime(), table, locator).cleanupOrphanedColiProcesses();
    EXPECT_TRUE(table.calls.isEmpty());
    EXPECT_TRUE(rt.log.lines().isEmpty());
}
