// Outside values in log lines: one line each, never longer than the cap, the length kept.

#include <gtest/gtest.h>

#include "platform/LogText.h"

using namespace vocalynx;

TEST(BoundedLogValue, EscapesAndCaps) {
    struct Case {
        QString value;
        qsizetype limit;
        QString expected;
    };
    const Case cases[] = {
        {QStringLiteral("claude"), 200, QStringLiteral("claude")},
        {QString(), 200, QString()},
        {QStringLiteral("a\nb\rc\td"), 200, QStringLiteral("a\\nb\\rc\\td")},
        {QStringLiteral("x\x1b[2Jy"), 200, QStringLiteral("x\\u001b[2Jy")},
        {QString(QChar(0x2028)), 200, QStringLiteral("\\u2028")},
        {QStringLiteral("今天天气很好"), 200, QStringLiteral("今天天气很好")},
        {QStringLiteral("abcdef"), 3, QStringLiteral("abc…(6 chars)")},
        {QStringLiteral("abcdef"), 6, QStringLiteral("abcdef")},
        // An escape is never cut in half.
        {QStringLiteral("ab\ncd"), 3, QStringLiteral("ab…(5 chars)")},
        // Nor a surrogate pair (U+1F431 is two units).
        {QStringLiteral("a") + QString::fromUcs4(U"\U0001F431") + QStringLiteral("b"), 2,
         QStringLiteral("a…(4 chars)")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.toStdString());
        EXPECT_EQ(boundedLogValue(c.value, c.limit), c.expected);
    }
}

TEST(BoundedLogValue, HugeValueStaysOneShortLine) {
    const QString huge = QString(20 * 1024 * 1024, QLatin1Char('\n'));
    const QString logged = boundedLogValue(huge);
    EXPECT_FALSE(logged.contains(QLatin1Char('\n')));
    EXPECT_LE(logged.size(), 200 + 32);
    EXPECT_TRUE(logged.endsWith(QStringLiteral("(20971520 chars)")));
}
