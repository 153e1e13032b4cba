#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

#include "windows/ModelFiles.h"

namespace vocalynx::test {
namespace {

void writeFile(const QString& path, const QByteArray& bytes = "x") {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A home folder with the model unpacked, its archive, and things of the user's that lie outside
// the model folder: a neighbour model and a folder elsewhere in the home.
class ModelFilesTest : public ::testing::Test {
protected:
    ModelFilesTest() : files(tmp.path() + QStringLiteral("/home")) {
        writeFile(files.modelFile);
        writeFile(files.modelDir + QStringLiteral("/tokens.txt"));
        writeFile(files.modelDir + QStringLiteral("/test_wavs/zh.wav"));
        writeFile(files.archive);
        writeFile(files.modelsFolder + QStringLiteral("/other-model/model.onnx"));
        writeFile(outside + QStringLiteral("/keep.txt"));
    }
    QTemporaryDir tmp;
    SpeechModelFiles files;
    QString outside = tmp.path() + QStringLiteral("/home/Documents");
};

TEST_F(ModelFilesTest, RemovesTheModelFolderAndArchiveOnly) {
    EXPECT_TRUE(files.remove());
    EXPECT_FALSE(QFileInfo::exists(files.modelDir));
    EXPECT_FALSE(QFileInfo::exists(files.archive));
    EXPECT_TRUE(QFileInfo::exists(files.modelsFolder + QStringLiteral("/other-model/model.onnx")));
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/keep.txt")));
    EXPECT_TRUE(files.remove()) << "nothing left to remove is no failure";
}

TEST_F(ModelFilesTest, NeverFollowsALinkOutOfTheModelFolder) {
    // A link inside the model folder to a folder outside, and one to a file outside.
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(),
                        QFile::encodeName(files.modelDir + QStringLiteral("/linked-folder")).constData()), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(outside + QStringLiteral("/keep.txt")).constData(),
                        QFile::encodeName(files.modelDir + QStringLiteral("/test_wavs/linked-file")).constData()), 0);
    EXPECT_TRUE(files.remove());
    EXPECT_FALSE(QFileInfo::exists(files.modelDir));
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/keep.txt")));
}

TEST_F(ModelFilesTest, AModelFolderThatIsALinkLosesOnlyTheLink) {
    ASSERT_TRUE(QDir(files.modelDir).removeRecursively());
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(), QFile::encodeName(files.modelDir).constData()), 0);
    EXPECT_TRUE(files.remove());
    EXPECT_FALSE(QFileInfo(files.modelDir).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(outside + QStringLiteral("/keep.txt")));
}

TEST_F(ModelFilesTest, ModelFileSizeIsReadWithoutReadingTheFile) {
    struct Case {
        const char* name;
        std::optional<long long> size;  // none: no file
        std::optional<unsigned long long> expected;
    };
    const Case cases[] = {
        {"exactly the minimum", 200000000, 200000000ULL},
        {"one byte short", 199999999, 199999999ULL},
        {"missing", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(files.modelFile);
        if (c.size) {
            writeFile(files.modelFile, {});
            ASSERT_EQ(::truncate(QFile::encodeName(files.modelFile).constData(), *c.size), 0);  // sparse
        }
        EXPECT_EQ(files.modelFileSize(), c.expected);
    }
}

}  // namespace
}  // namespace vocalynx::test
