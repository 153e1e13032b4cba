#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "FakeProcesses.h"
#include "engine/ColiCommand.h"
#include "engine/ModelCheck.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

// An environment written as pairs of literal names and values.
ColiLocator::Environment environment(std::initializer_list<std::pair<const char*, const char*>> variables) {
    ColiLocator::Environment env;
    for (const auto& [name, value] : variables) env.insert(QString::fromUtf8(name), QString::fromUtf8(value));
    return env;
}

// What follows the program (or the bundled runtime's script) on every recogniser command line.
const QStringList streamArguments{QStringLiteral("asr-stream"), QStringLiteral("--json"),
                                  QStringLiteral("--language"), QStringLiteral("auto"),
                                  QStringLiteral("--asr-interval-ms"), QStringLiteral("300")};

class ColiCommandTest : public ::testing::Test {
protected:
    // The test's home and resource folders, or a path inside them.
    QString home(const char* rest = "") const {
        return dir.path() + QStringLiteral("/home") + QString::fromUtf8(rest);
    }
    QString resources(const char* rest = "") const {
        return dir.path() + QStringLiteral("/res") + QString::fromUtf8(rest);
    }
    void makeFile(const QString& path, bool executable) {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
        f.close();
        f.setPermissions(executable ? (QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
                                    : (QFile::ReadOwner | QFile::WriteOwner));
    }
    ColiLocator locator(ColiLocator::Environment env = environment({{"HOME", "/h"}, {"PATH", "/usr/bin"}})) {
        return ColiLocator(home(), resources(), std::move(env), &launcher);
    }
    QTemporaryDir dir;
    FakeProcessLauncher launcher;
};

}  // namespace

TEST_F(ColiCommandTest, NothingFoundGivesNone) {
    launcher.whichOutput = QByteArray("  \n");
    EXPECT_EQ(locator().locateColi(), std::nullopt);
    EXPECT_EQ(locator().makeColiArguments(), std::nullopt);
    launcher.whichOutput.reset();  // which cannot even start
    EXPECT_EQ(locator().locateColi(), std::nullopt);
    launcher.whichOutput = QByteArray("/bin/\xff\n");  // not UTF-8
    EXPECT_EQ(locator().locateColi(), std::nullopt);
}

TEST_F(ColiCommandTest, WhichOutputIsTakenTrimmedAndUnchecked) {
    launcher.whichOutput = QByteArray("/nowhere/coli\n");
    EXPECT_EQ(locator().locateColi(), QStringLiteral("/nowhere/coli"));
}

TEST_F(ColiCommandTest, CandidatesInOrderAndOnlyExecutableFiles) {
    makeFile(home("/.bun/bin/coli"), true);
    EXPECT_EQ(locator().locateColi(), home("/.bun/bin/coli"));
    makeFile(home("/.npm-global/bin/coli"), false);  // not executable: skipped
    EXPECT_EQ(locator().locateColi(), home("/.bun/bin/coli"));
    makeFile(home("/.local/bin/coli"), true);
    EXPECT_EQ(locator().locateColi(), home("/.local/bin/coli"));
    QDir().mkpath(home("/.nvm/versions/node/v22.13.0/bin/coli"));  // a folder is not a program
    EXPECT_EQ(locator().locateColi(), home("/.local/bin/coli"));
    EXPECT_EQ(launcher.runCount(), 0) << "which is the last resort";
}

TEST_F(ColiCommandTest, BundledRuntimeNeedsItsScript) {
    makeFile(home("/.local/bin/coli"), true);
    makeFile(resources("/coli-runtime/node"), true);
    EXPECT_EQ(locator().locateColi(), home("/.local/bin/coli"));
    makeFile(resources("/coli-runtime/pkg/distribution/source/cli.js"), false);
    const auto command = locator().makeColiArguments();
    ASSERT_TRUE(command);
    EXPECT_EQ(command->executable, resources("/coli-runtime/node"));
    EXPECT_EQ(command->arguments,
              QStringList{resources("/coli-runtime/pkg/distribution/source/cli.js")} + streamArguments);
    EXPECT_EQ(command->environment.value(QStringLiteral("LD_LIBRARY_PATH")),
              resources("/coli-runtime/pkg/node_modules/") + ColiLocator::nativeLibraryFolder());
    EXPECT_TRUE(command->environment.value(QStringLiteral("PATH")).startsWith(resources("/coli-runtime:")));
}

TEST_F(ColiCommandTest, CommandOfAnInstalledProgram) {
    makeFile(home("/.local/bin/coli"), true);
    const auto command =
        locator(environment({{"HOME", "/h"}, {"PATH", "/usr/bin"}, {"LANG", "C"}})).makeColiArguments();
    ASSERT_TRUE(command);
    EXPECT_EQ(command->executable, home("/.local/bin/coli"));
    EXPECT_EQ(command->arguments, streamArguments);
    EXPECT_EQ(command->environment.value(QStringLiteral("LANG")), QStringLiteral("C"))
        << "the rest of the environment is passed on";
    EXPECT_FALSE(command->environment.contains(QStringLiteral("LD_LIBRARY_PATH")));
}

TEST_F(ColiCommandTest, EnvironmentPath) {
    struct Case {
        ColiLocator::Environment env;
        const char* path;
    };
    const Case cases[] = {
        {environment({{"HOME", "/h"}, {"PATH", "/usr/bin:/sbin"}}),
         "/x/bin:/opt/homebrew/bin:/usr/local/bin:/h/.nvm/versions/node/v22.13.0/bin:/h/.bun/bin:/h/.npm-global/bin:"
         "/usr/bin:/sbin"},
        {environment({{"HOME", "/h"}}),
         "/x/bin:/opt/homebrew/bin:/usr/local/bin:/h/.nvm/versions/node/v22.13.0/bin:/h/.bun/bin:/h/.npm-global/bin:"
         "/usr/bin:/bin"},
        {environment({{"PATH", "/p"}}),
         "/x/bin:/opt/homebrew/bin:/usr/local/bin:/.nvm/versions/node/v22.13.0/bin:/.bun/bin:/.npm-global/bin:/p"},
    };
    for (const Case& c : cases) {
        const auto env = locator(c.env).makeColiEnvironment(QStringLiteral("/x/bin/coli"));
        EXPECT_EQ(env.value(QStringLiteral("PATH")), QString::fromUtf8(c.path));
        EXPECT_EQ(env.value(QStringLiteral("NO_UPDATE_NOTIFIER")), QStringLiteral("1"));
        EXPECT_EQ(env.contains(QStringLiteral("HOME")), c.env.contains(QStringLiteral("HOME")))
            << "HOME is passed on, never set";
    }
}

TEST(ModelCheck, InstalledFromTwoHundredMillionBytes) {
    QTemporaryDir dir;
    const QString path = speechModelPath(dir.path());
    EXPECT_FALSE(isSpeechModelInstalled(dir.path()));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    // Sparse files: the size is set without writing the bytes.
    ASSERT_TRUE(f.resize(199'999'999));
    f.flush();
    EXPECT_FALSE(isSpeechModelInstalled(dir.path()));
    ASSERT_TRUE(f.resize(200'000'000));
    f.flush();
    EXPECT_TRUE(isSpeechModelInstalled(dir.path()));
    EXPECT_TRUE(path.endsWith(
        QStringLiteral("/.coli/models/sherpa-onnx-sense-voice-zh-en-ja-ko-yue-int8-2024-07-17/model.int8.onnx")));
}
