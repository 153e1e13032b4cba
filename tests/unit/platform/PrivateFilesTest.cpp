#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "platform/PrivateFiles.h"

using namespace vocalynx;

namespace {
mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}
void makeFolder(const QString& path, mode_t mode) {
    ASSERT_TRUE(QDir().mkpath(path));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}
void writeFile(const QString& path, const QByteArray& bytes, mode_t mode = 0600) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    f.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}
}  // namespace

TEST(PrivateTemporaryFolder, IsInTheRuntimeFolderOrAFolderOfOurOwnInTheSharedOne) {
    const QString own = QStringLiteral("vocalynx-%1").arg(::geteuid());
    struct Case {
        const char* name;
        std::function<void(const QString& runtime, const QString& shared)> prepare;
        bool relativeRuntime;
        const char* expected;  // relative to the test folder; "*" for a fresh name in the shared folder
    };
    const Case cases[] = {
        {"a private runtime folder", [](const QString& r, const QString&) { makeFolder(r, 0700); }, false,
         "run/vocalynx"},
        {"a runtime folder others can enter", [](const QString& r, const QString&) { makeFolder(r, 0755); }, false,
         "tmp/own"},
        {"no runtime folder", [](const QString&, const QString&) {}, false, "tmp/own"},
        {"a relative runtime folder", [](const QString&, const QString&) {}, true, "tmp/own"},
        {"our own folder, too open, is narrowed",
         [&](const QString&, const QString& s) { makeFolder(s + u'/' + own, 0777); }, false, "tmp/own"},
        {"the name taken by a file", [&](const QString&, const QString& s) { writeFile(s + u'/' + own, "x"); }, false,
         "*"},
        {"the name taken by a link to our folder",
         [&](const QString&, const QString& s) {
             makeFolder(s + QStringLiteral("/elsewhere"), 0700);
             ASSERT_TRUE(QFile::link(s + QStringLiteral("/elsewhere"), s + u'/' + own));
         },
         false, "*"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString runtime = dir.filePath(QStringLiteral("run"));
        const QString shared = dir.filePath(QStringLiteral("tmp"));
        makeFolder(shared, 01777);
        c.prepare(runtime, shared);
        if (HasFatalFailure()) return;
        const QString folder = privateTemporaryFolder(c.relativeRuntime ? QStringLiteral("run") : runtime, shared);
        const QString expected = QString::fromUtf8(c.expected).replace(QStringLiteral("own"), own);
        if (expected == u'*') {
            EXPECT_TRUE(folder.startsWith(shared + QStringLiteral("/vocalynx-"))) << folder.toStdString();
            EXPECT_NE(folder, shared + u'/' + own);
        } else {
            EXPECT_EQ(folder, dir.filePath(expected));
        }
        EXPECT_TRUE(S_ISDIR(modeOf(folder))) << "a folder, not a link";
        EXPECT_EQ(modeOf(folder) & 07777, 0700u);
    }
}

TEST(PrivateFiles, OnlyARegularFileWithinTheBoundIsRead) {
    QTemporaryDir dir;
    const QString regular = dir.filePath(QStringLiteral("regular"));
    writeFile(regular, "twelve bytes");
    const QString pipe = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString folder = dir.filePath(QStringLiteral("folder"));
    makeFolder(folder, 0700);
    const QString link = dir.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(regular, link));
    struct Case {
        QString path;
        qint64 bound;
        bool read;
        const char* reason;
    };
    const Case cases[] = {
        {regular, 12, true, ""},
        {regular, 11, false, "larger than 11 bytes"},
        {pipe, 100, false, "not a regular file"},  // and no wait for a writer
        {folder, 100, false, "not a regular file"},
        {link, 100, false, "symbolic link"},
        {dir.filePath(QStringLiteral("missing")), 100, false, "No such file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        QString reason;
        const auto bytes = readRegularFile(c.path, c.bound, &reason);
        EXPECT_EQ(bytes.has_value(), c.read);
        if (c.read) {
            EXPECT_EQ(*bytes, "twelve bytes");
        } else {
            EXPECT_TRUE(reason.contains(QString::fromUtf8(c.reason))) << reason.toStdString();
        }
    }
}

TEST(PrivateFiles, WritingReplacesWhateverIsInThePlaceAndHoldsOnlyWhatWasWritten) {
    const QByteArray content("the clip");
    struct Case {
        const char* name;
        std::function<void(const QString& path, const QString& aside)> plant;
    };
    const Case cases[] = {
        {"nothing", [](const QString&, const QString&) {}},
        {"other bytes", [](const QString& p, const QString&) { writeFile(p, "the clop"); }},
        {"the same bytes, open to others", [&](const QString& p, const QString&) { writeFile(p, content, 0644); }},
        {"a folder with files", [](const QString& p, const QString&) {
             makeFolder(p, 0700);
             writeFile(p + QStringLiteral("/inside"), "x");
         }},
        {"a link to a file", [&](const QString& p, const QString& aside) {
             writeFile(aside, content);
             ASSERT_TRUE(QFile::link(aside, p));
         }},
        {"a pipe", [](const QString& p, const QString&) { ASSERT_EQ(::mkfifo(QFile::encodeName(p).constData(), 0600), 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("clip"));
        const QString aside = dir.filePath(QStringLiteral("aside"));
        c.plant(path, aside);
        if (HasFatalFailure()) return;
        EXPECT_FALSE(holdsPrivateFile(path, content));
        QString error;
        ASSERT_TRUE(writePrivateFile(path, content, &error)) << error.toStdString();
        EXPECT_TRUE(holdsPrivateFile(path, content));
        EXPECT_EQ(modeOf(path) & 07777, 0600u);
        if (QFile::exists(aside)) {
            EXPECT_TRUE(S_ISREG(modeOf(aside)));
            EXPECT_EQ(readRegularFile(aside, 100), content) << "a link's target is never written through";
        }
    }
}
