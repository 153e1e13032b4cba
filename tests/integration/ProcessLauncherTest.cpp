// The real launcher's failed starts give back every descriptor they opened: a program that is not
// there, one that cannot be executed, and a process out of descriptors at each pipe it makes.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <set>

#include "platform/linux/PosixProcessLauncher.h"

namespace vocalynx::test {
namespace {

// The descriptors this process has open, not counting the listing's own.
std::set<int> openDescriptors() {
    std::set<int> fds;
    DIR* listing = ::opendir("/proc/self/fd");
    if (!listing) return fds;
    while (const dirent* entry = ::readdir(listing))
        if (entry->d_name[0] != '.') fds.insert(std::atoi(entry->d_name));
    fds.erase(::dirfd(listing));
    ::closedir(listing);
    return fds;
}

LaunchCommand commandFor(const QString& executable) {
    return {executable, {QStringLiteral("--flag")}, {{QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin")}}};
}

TEST(ProcessLauncher, AFailedStartClosesWhatItOpened) {
    QTemporaryDir dir;
    const QString notExecutable = dir.filePath(QStringLiteral("plain-file"));
    QFile file(notExecutable);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    const QString missing = dir.filePath(QStringLiteral("no-such-program"));

    struct Case {
        const char* what;
        QString executable;
        QString reason;
    };
    const Case cases[] = {
        {"a program that is not there", missing, QStringLiteral("No such file or directory")},
        {"a file that cannot be executed", notExecutable, QStringLiteral("Permission denied")},
    };
    PosixProcessLauncher launcher;
    const std::set<int> before = openDescriptors();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (int attempt = 1; attempt <= 10; ++attempt) {
            QString error;
            EXPECT_EQ(launcher.launch(commandFor(c.executable), &error), nullptr);
            EXPECT_EQ(error, c.executable + QStringLiteral(": ") + c.reason);
            error.clear();
            EXPECT_FALSE(launcher.run(c.executable, {}, &error).has_value());
            EXPECT_EQ(error, c.executable + QStringLiteral(": ") + c.reason);
        }
        EXPECT_EQ(openDescriptors(), before);
    }
    // A program run to its end leaves nothing open either.
    const std::optional<RunOutput> ran = launcher.run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("echo hi")}, nullptr);
    ASSERT_TRUE(ran.has_value());
    EXPECT_EQ(ran->standardOutput, QByteArray("hi\n"));
    EXPECT_EQ(ran->exitCode, 0);
    EXPECT_EQ(openDescriptors(), before);
}

TEST(ProcessLauncher, RunningOutOfDescriptorsAtAnyPipeClosesTheOnesBefore) {
    PosixProcessLauncher launcher;
    const std::set<int> before = openDescriptors();
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    // The standard streams' three pipes and the exec report's: with 1, 3, 5 and 7 free descriptor
    // numbers the first, second, third and fourth pipe cannot be made.
    for (int free : {1, 3, 5, 7}) {
        SCOPED_TRACE(free);
        rlim_t limit = 0;
        for (int left = free; left > 0; ++limit)
            if (!before.count(static_cast<int>(limit))) --left;
        rlimit lowered = original;
        lowered.rlim_cur = limit;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
        QString error;
        const auto child = launcher.launch(commandFor(QStringLiteral("/bin/true")), &error);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &original), 0);
        EXPECT_EQ(child, nullptr);
        EXPECT_EQ(error, QStringLiteral("/bin/true: Too many open files"));
        EXPECT_EQ(openDescriptors(), before);
    }
}

}  // namespace
}  // namespace vocalynx::test
