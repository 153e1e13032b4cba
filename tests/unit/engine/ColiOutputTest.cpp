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
        {"  plain text line  ", QStringLiteral("plain text line")},
        {"[Music] and words", QStringLiteral("[Music] and words")},  // brackets that are not JSON
        {"[ laughs ]", QStringLiteral("[ laughs ]")},
        {"123 apples", QStringLiteral("123 apples")},
        {"tab\tinside", QStringLiteral("tab\tinside")},
        // JSON that carries no transcript is never typed as text.
        {"42", std::nullopt},
        {"-1.5e3", std::nullopt},
        {"true", std::nullopt},
        {"false", std::nullopt},
        {"null", std::nullopt},
        {"{broken json", std::nullopt},
        {R"({"text":"ok")", std::nullopt},  // cut short
        {R"([{"text":"ok"})", std::nullopt},
        {R"(["ok")", std::nullopt},
        {"[1, 2", std::nullopt},
        {"[true", std::nullopt},
        {QByteArray(2000, '[') + "\"deep\"" + QByteArray(2000, ']'), std::nullopt},  // beyond the parser's depth
        // Control characters other than tab and line feed are not speech.
        {R"({"text":"\u0000\u0001"})", std::nullopt},
        {R"({"text":"ok\u001b[2J"})", std::nullopt},
        {R"({"text":"line\nbreak\tand tab"})", QStringLiteral("line\nbreak\tand tab")},
        {R"(["earlier words", "\u0007"])", QStringLiteral("earlier words")},
        {"bell\x07", std::nullopt},
        {"carriage\rreturn", std::nullopt},
        {"c1 \xc2\x9b control", std::nullopt},
        {"    ", std::nullopt},
        {"", std::nullopt},
        {QByteArray("\xff\xfe bad utf-8"), std::nullopt},
        {QByteArray("caf\xc3"), std::nullopt},  // a character cut short
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(transcriptFromLine(line), expected) << line.toStdString();
}
