#include <gtest/gtest.h>

#include <QJsonDocument>

#include "engine/ColiOutput.h"

using namespace vocalynx;

TEST(ColiLineBuffer, CutsLinesAcrossReads) {
    ColiLineBuffer b;
    EXPECT_TRUE(b.append("{\"text\":\"he").isEmpty());
    EXPECT_EQ(b.append("llo\"}\nsecond\nthi"), (QList<QByteArray>{"{\"text\":\"hello\"}", "second"}));
    EXPECT_EQ(b.size(), 3);
    EXPECT_EQ(b.append("rd\n"), (QList<QByteArray>{"third"}));
    EXPECT_TRUE(b.isEmpty());
}

TEST(ColiLineBuffer, ACharacterSplitBetweenReadsIsDecodedWhole) {
    const QByteArray line = QStringLiteral("你好").toUtf8() + "\n";
    ColiLineBuffer b;
    EXPECT_TRUE(b.append(line.left(4)).isEmpty());  // the second character is cut after its first byte
    const QList<QByteArray> lines = b.append(line.mid(4));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(transcriptFromLine(lines[0]), QStringLiteral("你好"));
}

TEST(ColiLineBuffer, AnOverlongLineIsDroppedAndTheNextOneKept) {
    ColiLineBuffer b;
    bool overflowed = false;
    const QByteArray chunk(ColiLineBuffer::maxLineBytes / 2 + 1, 'x');
    EXPECT_TRUE(b.append(chunk, &overflowed).isEmpty());
    EXPECT_FALSE(overflowed);
    EXPECT_TRUE(b.append(chunk, &overflowed).isEmpty());
    EXPECT_TRUE(overflowed);
    EXPECT_EQ(b.size(), 0) << "nothing of the over-long line is held";
    // Its rest, however long, is skipped up to the line feed; the following line is whole.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(b.append(chunk).isEmpty());
    EXPECT_EQ(b.size(), 0);
    EXPECT_EQ(b.append("tail of the long one\nnext\n"), (QList<QByteArray>{"next"}));

    // A line that goes over the cap within one chunk is dropped too.
    overflowed = false;
    const QByteArray whole = QByteArray(ColiLineBuffer::maxLineBytes + 1, 'y') + "\nok\n";
    EXPECT_EQ(b.append(whole, &overflowed), (QList<QByteArray>{"ok"}));
    EXPECT_TRUE(overflowed);
}

TEST(ColiOutput, TranscriptOfALine) {
    const std::pair<QByteArray, std::optional<QString>> cases[] = {
        {R"({"result":{"text":"  你好  "}})", QStringLiteral("你好")},
        {R"({"text":"","partial":"部分"})", QStringLiteral("部分")},
        {R"(["first", "second", "", "  "])", QStringLiteral("second")},
        {R"({"segments":[{"text":"a"},3,{"text":"b"},null]})", QStringLiteral("a b")},
        {R"({"other":"x"})", std::nullopt},
        {R"([])", std::nullopt},
        {R"({"text":42,"transcript":"t"})", QStringLiteral("t")},   // a key whose value gives nothing is passed
        {R"({"text":["x",{"output":"y"}]})", QStringLiteral("y")},  // recursion through arrays and objects
        {R"({"segments":"not an array"})", std::nullopt},
        {R"("just a string")", QStringLiteral("\"just a string\"")},  // top level must be array or object
        {"42", QStringLiteral("42")},
        {"  plain text line  ", QStringLiteral("plain text line")},
        {"{broken json", QStringLiteral("{broken json")},
        {"    ", std::nullopt},
        {"", std::nullopt},
        {QByteArray("\xff\xfe bad utf-8"), std::nullopt},
        {QByteArray("caf\xc3"), std::nullopt},  // a character cut short
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(transcriptFromLine(line), expected) << line.toStdString();
}
