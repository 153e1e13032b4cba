#include <QRegularExpression>

#include "InjectionTestFixture.h"

namespace vocalynx::test {
namespace {

using TextInjectorTest = InjectionFixture;

const QString kTS = QStringLiteral(R"(ts=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z uptime=\d+\.\ds)");

TEST_F(TextInjectorTest, EntryLineShowsTheFirstFiftyCharactersAndAlwaysThreeDots) {
    struct Case {
        QString text;
        InjectionMode mode;
        QString expected;
    };
    const QString sixty = QString(QStringLiteral("0123456789")).repeated(6);
    const Case cases[] = {
        {sixty, InjectionMode::clipboard,
         QStringLiteral("[Vocalynx] Injecting text (clipboard): ") + sixty.left(50) + QStringLiteral("...")},
        {QStringLiteral("abc"), InjectionMode::keyboard,
         QStringLiteral("[Vocalynx] Injecting text (keyboard): abc...")},
        // Characters are grapheme clusters: a flag is one character, not four units.
        {QString(QStringLiteral("🇨🇳")).repeated(51), InjectionMode::keyboard,
         QStringLiteral("[Vocalynx] Injecting text (keyboard): ") + QString(QStringLiteral("🇨🇳")).repeated(50) +
             QStringLiteral("...")},
    };
    for (const Case& c : cases) {
        rt.log.clear();
        injector.injectText(c.text, c.mode);
        ASSERT_FALSE(rt.log.lines().isEmpty());
        EXPECT_EQ(rt.log.lines().first(), c.expected);
    }
}

TEST_F(TextInjectorTest, EmptyTextDoesNothing) {
    injector.injectText(QString(), InjectionMode::keyboard);
    injector.injectText(QString(), InjectionMode::clipboard);
    rt.time.advance(1);
    EXPECT_TRUE(rt.log.lines().isEmpty());
    EXPECT_TRUE(journal->isEmpty());
    EXPECT_EQ(clipboard.writes, 0);
}

TEST_F(TextInjectorTest, ClipboardModeWritesThenPastesAfterTheDelayAndKeepsTheText) {
    const QString text = QStringLiteral("Hello, 世界 ✓ 🎉");
    injector.injectText(text, InjectionMode::clipboard);
    EXPECT_EQ(clipboard.content, text);
    EXPECT_EQ(keys.keyCount(), 0);
    rt.time.advance(0.149);
    EXPECT_EQ(keys.keyCount(), 0) << "the paste waits 0.15 s";
    rt.time.advance(0.001);
    EXPECT_EQ(*journal, QStringList{QStringLiteral("paste chord")});
    EXPECT_EQ(clipboard.content, text) << "the earlier contents are not restored";

    const QStringList lines = injectionLines();
    ASSERT_EQ(lines.size(), 4);
    const QString prefix = QStringLiteral("^\\[Vocalynx\\]\\[InjectionDiagnostics\\] ") + kTS + u' ';
    EXPECT_TRUE(
        QRegularExpression(prefix + QStringLiteral("clipboard set begin length=13$")).match(lines[0]).hasMatch())
        << lines[0].toStdString();
    EXPECT_TRUE(QRegularExpression(prefix + QStringLiteral("clipboard set result=true$")).match(lines[1]).hasMatch())
        << lines[1].toStdString();
    EXPECT_TRUE(
        QRegularExpression(prefix + QStringLiteral("Cmd\\+V scheduled delay=0\\.15s$")).match(lines[2]).hasMatch())
        << lines[2].toStdString();
    EXPECT_TRUE(QRegularExpression(prefix + QStringLiteral("Cmd\\+V posted$")).match(lines[3]).hasMatch())
        << lines[3].toStdString();
    EXPECT_EQ(rt.log.lines().last(), QStringLiteral("[Vocalynx] Cmd+V posted"));
}

TEST_F(TextInjectorTest, FailedClipboardWriteIsReportedAndThePasteStillGoesOut) {
    clipboard.writeSucceeds = false;
    injector.pasteViaClipboard(QStringLiteral("x"));
    rt.time.advance(0.2);
    EXPECT_TRUE(rt.log.containsPart(QStringLiteral(" clipboard set result=false")));
    EXPECT_EQ(keys.keyCount(), 1);
}

TEST_F(TextInjectorTest, PasteWithoutAnEventSourceStopsSilently) {
    keys.eventsAvailable = false;
    injector.postCommandV();
    EXPECT_EQ(keys.keyCount(), 0);
    EXPECT_TRUE(rt.log.lines().isEmpty());
}

TEST_F(TextInjectorTest, AFailedPastePostIsReportedAsAFailure) {
    keys.keyPostSucceeds = false;
    injector.pasteViaClipboard(QStringLiteral("x"));
    rt.time.advance(0.2);
    EXPECT_TRUE(rt.log.contains(
        QStringLiteral("[Vocalynx] Cmd+V failed: the paste keys could not be posted; the text is on the clipboard")));
    EXPECT_TRUE(rt.log.containsPart(QStringLiteral(" Cmd+V failed")));
    EXPECT_FALSE(rt.log.containsPart(QStringLiteral("Cmd+V posted")));
    EXPECT_EQ(clipboard.content, QStringLiteral("x")) << "left there for the user to paste";
}

TEST_F(TextInjectorTest, CharactersThatCouldNotBeTypedAreReported) {
    keys.typingSucceeds = false;
    injector.typeViaKeyEvents(QStringLiteral("a\u4e00"));
    const QStringList lines = injectionLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" keyboard injection incomplete chars=2")));
    EXPECT_TRUE(rt.log.contains(QStringLiteral("[Vocalynx] Some characters could not be typed")));
}

TEST_F(TextInjectorTest, PasteScheduledByADestroyedInjectorIsDropped) {
    {
        TextInjector shortLived(rt, keys, clipboard);
        shortLived.pasteViaClipboard(QStringLiteral("x"));
    }
    rt.time.advance(1);
    EXPECT_EQ(keys.keyCount(), 0);
}

TEST_F(TextInjectorTest, KeyboardModePostsOnePairPerUtf16UnitAndCountsUnits) {
    const QString text = QStringLiteral("a😀");  // one letter, one character outside the basic plane
    injector.injectText(text, InjectionMode::keyboard);
    EXPECT_EQ(*journal,
              (QStringList{QStringLiteral("unit 0061"), QStringLiteral("unit d83d"), QStringLiteral("unit de00")}));
    EXPECT_EQ(clipboard.writes, 0);
    const QStringList lines = injectionLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" keyboard injection done chars=3")));
    EXPECT_EQ(rt.log.lines().last(), QStringLiteral("[Vocalynx] Keyboard injection done (3 chars)"));
}

TEST_F(TextInjectorTest, KeyboardModeTypesATextUpToTheLimit) {
    const QString text(TextInjector::maxTypedUnits, QLatin1Char('a'));
    injector.injectText(text, InjectionMode::keyboard);
    EXPECT_EQ(keys.units.size(), TextInjector::maxTypedUnits);
    EXPECT_EQ(clipboard.writes, 0);
}

TEST_F(TextInjectorTest, KeyboardModeFallsBackToTheClipboard) {
    struct Case {
        const char* name;
        bool trusted;
        bool eventsAvailable;
        QStringList expectedTails;  // the lines before the clipboard path begins
        QString text = QStringLiteral("héllo");
    };
    const QString tooLong = QString(TextInjector::maxTypedUnits, QLatin1Char('a')) + QStringLiteral("é");
    const Case cases[] = {
        {"untrusted", false, true,
         {QStringLiteral(" keyboard injection unavailable accessibility=false"),
          QStringLiteral("[Vocalynx] Accessibility not trusted, falling back to clipboard")}},
        {"no event source", true, false, {QStringLiteral(" keyboard injection missing CGEventSource; fallback clipboard")}},
        // Typing a whole page key by key would hold the main thread for seconds.
        {"too long to type", true, true,
         {QStringLiteral(" keyboard injection too long chars=10001 limit=10000; fallback clipboard"),
          QStringLiteral("[Vocalynx] Text too long to type (10001 chars), pasting through the clipboard")},
         tooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rt.log.clear();
        journal->clear();
        clipboard.content.clear();
        keys.trusted = c.trusted;
        keys.eventsAvailable = c.eventsAvailable;
        keys.units.clear();
        injector.typeViaKeyEvents(c.text);
        const QStringList lines = rt.log.lines();
        ASSERT_GE(lines.size(), c.expectedTails.size() + 1);
        for (int i = 0; i < c.expectedTails.size(); ++i) EXPECT_TRUE(lines[i].endsWith(c.expectedTails[i])) << lines[i].left(200).toStdString();
        EXPECT_TRUE(lines[c.expectedTails.size()].endsWith(QStringLiteral(" clipboard set begin length=%1").arg(c.text.size())));
        EXPECT_TRUE(keys.units.isEmpty()) << "no unit goes out as a key event";
        EXPECT_EQ(clipboard.content, c.text);
        rt.time.advance(0.15);
        // Without an event source the paste itself stops silently; with one it is posted.
        EXPECT_EQ(keys.keyCount(), c.eventsAvailable ? 1 : 0);
    }
}

}  // namespace
}  // namespace vocalynx::test
