#include <gtest/gtest.h>

#include "engine/TranscriptRules.h"
#include "engine/TranscriptTracker.h"

using namespace vocalynx;
using namespace vocalynx::transcript;

namespace {
std::string s(const QString& q) { return q.toStdString(); }
std::optional<int> boundedEditDistance(const char* a, const char* b, int bound) {
    return transcript::boundedEditDistance(QString::fromUtf8(a), QString::fromUtf8(b), bound);
}
}  // namespace

TEST(TranscriptRules, DistinctTranscripts) {
    struct Case {
        const char* previous;
        const char* next;
        QStringList variants;
        bool distinct;
    };
    const QStringList none;
    const Case cases[] = {
        {"今天天气很好", "今天天气很好吗", none, false},        // one character of tail jitter
        {"今天天气很好", "今天天气很好吗我们", none, true},     // three new characters
        {"今天天气很好", "今天天气", none, false},              // two characters dropped at the tail
        {"hello world", "llo world", none, false},             // head dropped by two
        {"Hello, World", "world", none, false},                // head drop judged without case and punctuation
        {"abcdefghij", "j", none, true},                       // head dropped by nine: beyond the limit of six
        {"", "你好", none, true},                              // nothing before
        {"你好", "  ", none, false},                           // empty new text
        {" 你好 ", "你好\n", none, false},                     // equal once trimmed
        // Emoji with modifiers count as one character each: one added cluster is jitter.
        {"ok 👍🏽", "ok 👍🏽👍🏽", none, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isDistinctTranscript(QString::fromUtf8(c.previous), QString::fromUtf8(c.next), c.variants, 2),
                  c.distinct)
            << c.previous << " -> " << c.next;
}

TEST(TranscriptRules, VariantFlickerAmongCloseForms) {
    // Forms that differ in one character near the start, so the tail rule does not decide.
    const QString a = QStringLiteral("我们明天去公园散步吧"), b = QStringLiteral("你们明天去公园散步吧"),
                  c = QStringLiteral("他们明天去公园散步吧"), d = QStringLiteral("她们明天去公园散步吧");
    // Fewer than three recent variants: a real change.
    EXPECT_TRUE(isDistinctTranscript(a, b, {a, b}, 2));
    // Both among at least three variants: flicker.
    EXPECT_FALSE(isDistinctTranscript(a, b, {a, b, a}, 2));
    // A third close form among them: still flicker.
    EXPECT_FALSE(isDistinctTranscript(a, b, {a, b, c}, 2));
    // A fourth close form: too many to be flicker.
    EXPECT_TRUE(isDistinctTranscript(a, b, {a, b, c, d}, 2));
    // The new form not among the variants: not flicker.
    EXPECT_TRUE(isDistinctTranscript(a, b, {a, c, a}, 2));
}

TEST(TranscriptRules, BoundedEditDistance) {
    EXPECT_EQ(boundedEditDistance("kitten", "sitten", 2), 1);
    EXPECT_EQ(boundedEditDistance("kitten", "sittin", 2), 2);
    EXPECT_EQ(boundedEditDistance("kitten", "sitting", 2), std::nullopt);  // 3
    EXPECT_EQ(boundedEditDistance("abc", "abcdef", 2), std::nullopt);      // lengths too far apart
    EXPECT_EQ(boundedEditDistance("abcdef", "ghijkl", 2), std::nullopt);   // rows exceed the bound early
    EXPECT_EQ(boundedEditDistance("", "ab", 2), 2);
    EXPECT_EQ(boundedEditDistance(QStringLiteral("你好"), QStringLiteral("你好"), 2), 0);
    // Long texts: changes far from the start are still counted exactly.
    const QString text = QString(300, QChar(u'字')) + QStringLiteral("今天天气很好") + QString(300, QChar(u'字'));
    QString changed = text;
    changed[303] = QChar(u'汽');
    EXPECT_EQ(boundedEditDistance(text, changed, 2), 1);
    EXPECT_EQ(boundedEditDistance(text, text + QStringLiteral("吗？"), 2), 2);
    EXPECT_EQ(boundedEditDistance(text, QStringLiteral("开头") + changed, 2), std::nullopt);  // 3
}

TEST(TranscriptRules, StopPhrase) {
    struct Case {
        const char* text;
        const char* phrase;
        std::optional<const char*> before;
    };
    const Case cases[] = {
        {"好的就这样喵", "就这样喵", "好的"},
        {"好的，就这样喵。", "就这样喵", "好的"},
        {"就这样喵", "就这样喵", ""},
        {"好的就这样猫", "完毕", "好的"},            // a fixed variant, whatever is configured
        {"好的，就 这样。喵！", "就这样喵", "好的"},  // the tolerant backward match
        {"OK, Over and OUT!", "over and out", "OK"},  // case and spaces ignored by the backward match
        {"好的就这样", "就这样喵", std::nullopt},
        {"就这样喵好的", "就这样喵", std::nullopt},   // the phrase must end the text
        {"好的就这样喵", "", std::nullopt},           // an empty phrase disables the rule
        {"   ", "就这样喵", std::nullopt},
        {"。！", "就这样喵", std::nullopt},           // nothing but punctuation
    };
    for (const Case& c : cases) {
        const auto result = stripVoiceStopPhrase(QString::fromUtf8(c.text), QString::fromUtf8(c.phrase));
        if (c.before)
            EXPECT_EQ(result, std::optional<QString>(QString::fromUtf8(*c.before))) << c.text;
        else
            EXPECT_EQ(result, std::nullopt) << c.text << " gave " << s(result.value_or(QStringLiteral("?")));
    }
}

TEST(TranscriptRules, StopPhraseCandidatesLongestFirstWithoutDuplicates) {
    const QStringList c = stopPhraseCandidates(QStringLiteral("好了就这样喵"));
    ASSERT_EQ(c.size(), 4);
    EXPECT_EQ(c.first(), QStringLiteral("好了就这样喵"));
    EXPECT_EQ(stopPhraseCandidates(QStringLiteral("就这样猫")).size(), 3);
}

TEST(TranscriptRules, CleanFinalTranscript) {
    const std::pair<const char*, const char*> cases[] = {
        {"你好？。", "你好？"}, {"好。。", "好。"},   {"a.", "a."},         {"。", "。"},
        {"好！！！", "好！"},   {"  嗯  ", "嗯"},     {"Really?!.", "Really?!"},
        {"wait…。", "wait…"},   {"ab", "ab"},         {"aa", "aa"},  // letters are never collapsed
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(cleanFinalTranscript(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

TEST(TranscriptRules, CharacterClasses) {
    EXPECT_TRUE(containsLetterOrDigit(QStringLiteral("，3。")));
    EXPECT_TRUE(containsLetterOrDigit(QStringLiteral("嗯")));
    EXPECT_FALSE(containsLetterOrDigit(QStringLiteral("。！？…")));
    EXPECT_FALSE(containsLetterOrDigit(QStringLiteral("😀 ✓")));  // symbols are neither
    EXPECT_FALSE(hasNonPunctuation(QString()));
    EXPECT_FALSE(hasNonPunctuation(QStringLiteral("「」")));
    EXPECT_EQ(normalizeForMatching(QStringLiteral(" 就，这样 喵！")), QStringLiteral("就这样喵"));
    EXPECT_EQ(trimmed(QStringLiteral("\u3000 你好\n\t")), QStringLiteral("你好"));  // ideographic space
}

TEST(TranscriptRules, EarlyTranscriptFilter) {
    const MonoTime ready{};
    const auto at = [&](double s) { return ready + Duration(s); };
    EXPECT_TRUE(shouldIgnoreEarlyTranscript(QStringLiteral("。"), ready, at(0.2)));
    EXPECT_TRUE(shouldIgnoreEarlyTranscript(QStringLiteral(" ?! "), ready, at(0.34)));
    EXPECT_FALSE(shouldIgnoreEarlyTranscript(QStringLiteral("嗯"), ready, at(0.2)));      // a letter
    EXPECT_FALSE(shouldIgnoreEarlyTranscript(QStringLiteral("。"), ready, at(0.35)));    // not before 0.35 s
    EXPECT_FALSE(shouldIgnoreEarlyTranscript(QStringLiteral("。"), ready, at(0.5)));
    EXPECT_FALSE(shouldIgnoreEarlyTranscript(QStringLiteral("。。。"), ready, at(0.1)));  // three characters
    EXPECT_FALSE(shouldIgnoreEarlyTranscript(QStringLiteral("  "), ready, at(0.1)));     // empty is not ignored
    EXPECT_FALSE(shouldIgnoreEarlyTranscript(QStringLiteral("。"), std::nullopt, at(0.1)));
}

// The tracker applies the rules in their order and keeps its fields for the level evaluation.
TEST(TranscriptTracker, PreviewChangesStabilityAndStopPhrase) {
    TranscriptTracker t;
    const MonoTime t0{};
    const QString phrase = QStringLiteral("就这样喵");
    auto handle = [&](const char* text, double at) {
        return t.handleTranscript(QString::fromUtf8(text), phrase, std::nullopt, t0 + Duration(at), 2);
    };

    auto o = handle("今天天气很好", 1);
    EXPECT_TRUE(o.previewChanged);
    EXPECT_TRUE(o.speechActivity);
    EXPECT_EQ(t.previewText(), QStringLiteral("今天天气很好"));

    o = handle("今天天气很好吗", 2);  // tail jitter
    EXPECT_FALSE(o.previewChanged);
    o = handle("今天天气很好", 3);  // same as the preview
    EXPECT_FALSE(o.previewChanged);
    EXPECT_EQ(t.stablePreviewCount(), 2);
    EXPECT_EQ(t.lastDistinctTranscriptAt(), t0 + Duration(1));

    o = handle("今天天气很好吗我们", 4);
    EXPECT_TRUE(o.previewChanged);
    EXPECT_EQ(t.stablePreviewCount(), 0);
    EXPECT_EQ(t.lastTranscriptUpdateAt(), t0 + Duration(4));

    o = handle("今天天气很好吗我们就这样喵", 5);
    EXPECT_TRUE(o.stopPhraseHeard);
    EXPECT_EQ(o.preview, QStringLiteral("今天天气很好吗我们"));
    EXPECT_EQ(t.lastMeaningfulTranscript(), QStringLiteral("今天天气很好吗我们"));
    EXPECT_EQ(t.recentTranscriptVariants().size(), 5);
}

TEST(TranscriptTracker, VariantsKeepTheNewestSixNonEmpty) {
    TranscriptTracker t;
    for (int i = 0; i < 9; ++i) t.recordTranscriptVariant(QStringLiteral(" v%1 ").arg(i));
    t.recordTranscriptVariant(QStringLiteral("   "));
    EXPECT_EQ(t.recentTranscriptVariants(), (QStringList{QStringLiteral("v3"), QStringLiteral("v4"), QStringLiteral("v5"),
                                                         QStringLiteral("v6"), QStringLiteral("v7"), QStringLiteral("v8")}));
}

TEST(TranscriptTracker, EarlyMarkIsNotEvenRecorded) {
    TranscriptTracker t;
    const MonoTime ready{};
    const auto o = t.handleTranscript(QStringLiteral("。"), QStringLiteral("就这样喵"), ready, ready + Duration(0.2), 2);
    EXPECT_TRUE(o.ignored);
    EXPECT_TRUE(t.recentTranscriptVariants().isEmpty());
    EXPECT_EQ(t.stablePreviewCount(), 0);
}

TEST(TranscriptTracker, HasTranscriptTextLooksAtPreviewAndLastMeaningful) {
    TranscriptTracker t;
    EXPECT_FALSE(t.hasTranscriptText());
    t.setPreviewText(QStringLiteral("  \n"));
    EXPECT_FALSE(t.hasTranscriptText());
    t.handleTranscript(QStringLiteral("你好"), QStringLiteral("就这样喵"), std::nullopt, MonoTime{}, 2);
    t.setPreviewText(QString());  // cleared preview, but the last meaningful text remains
    EXPECT_TRUE(t.hasTranscriptText());
    t.resetTracking();
    EXPECT_FALSE(t.hasTranscriptText());
}

// What a relaunched speech process recognises is joined after what the earlier one did.
TEST(TranscriptRules, JoiningRecognisedText) {
    struct Case {
        const char* first;
        const char* second;
        const char* joined;
    };
    const Case cases[] = {
        {"今天天气很好", "我们去公园", "今天天气很好我们去公园"},  // written without spaces
        {"今天天气很好。", "OK", "今天天气很好。OK"},
        {"hello there", "general Kenobi", "hello there general Kenobi"},
        {"hello there", ", general", "hello there, general"},   // closing punctuation follows at once
        {"see", "(this)", "see (this)"},
        {" hello ", "", "hello"},
        {"", "  world", "world"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(joinRecognisedText(QString::fromUtf8(c.first), QString::fromUtf8(c.second)), QString::fromUtf8(c.joined))
            << c.first << " + " << c.second;
}
