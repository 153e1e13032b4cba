#include <gtest/gtest.h>

#include <QJsonDocument>

#include "core/Types.h"

using namespace vocalynx;

namespace {
Result<Action> decode(const char* json) {
    return Action::fromJson(QJsonDocument::fromJson(QByteArray(json)).object());
}
}  // namespace

TEST(ActionJson, DecodesEveryCaseAndRejectsBadFields) {
    struct Case {
        const char* json;
        bool ok;
        Action expected;
    };
    const Case cases[] = {
        {R"({"type":"toggleRecording"})", true, Action::toggleRecording()},
        {R"({"type":"simulateEnter","keyCode":5})", true, Action::simulateEnter()},
        {R"({"type":"simulateEsc"})", true, Action::simulateEsc()},
        {R"({"type":"none"})", true, Action::none()},
        {R"({"type":"launchRocket"})", true, Action::none()},
        {R"({"type":"simulateHotkey","keyCode":36,"modifiers":1048576})", true, Action::simulateHotkey(36, 0x100000)},
        {R"({"type":"simulateHotkey","keyCode":65535,"modifiers":0})", true, Action::simulateHotkey(65535, 0)},
        {R"({"type":"simulateHotkey","keyCode":70000,"modifiers":0})", false, {}},
        {R"({"type":"simulateHotkey","keyCode":-1,"modifiers":0})", false, {}},
        {R"({"type":"simulateHotkey","keyCode":1.5,"modifiers":0})", false, {}},
        {R"({"type":"simulateHotkey","keyCode":"36","modifiers":0})", false, {}},
        {R"({"type":"simulateHotkey","modifiers":0})", false, {}},
        {R"({"type":"simulateHotkey","keyCode":36})", false, {}},
        {R"({"type":"sendText","text":"你好"})", true, Action::sendText(QStringLiteral("你好"))},
        {R"({"type":"sendText"})", false, {}},
        {R"({"keyCode":36})", false, {}},
        {R"({"type":7})", false, {}},
    };
    for (const auto& c : cases) {
        const auto result = decode(c.json);
        EXPECT_EQ(result.isOk(), c.ok) << c.json;
        if (c.ok && result.isOk()) { EXPECT_EQ(result.value(), c.expected) << c.json; }
    }
}

TEST(ActionJson, EncodesOnlyTheKeysOfItsCaseAndRoundTrips) {
    const Action actions[] = {Action::simulateHotkey(9, 0x100000), Action::sendText(QStringLiteral("hi")),
                              Action::toggleRecording(), Action::simulateEnter(), Action::simulateEsc(), Action::none()};
    for (const Action& a : actions) {
        const QJsonObject o = a.toJson();
        EXPECT_EQ(o.value(QStringLiteral("type")).toString(), actionKindName(a.kind));
        EXPECT_EQ(o.contains(QStringLiteral("keyCode")), a.kind == Action::Kind::simulateHotkey);
        EXPECT_EQ(o.contains(QStringLiteral("modifiers")), a.kind == Action::Kind::simulateHotkey);
        EXPECT_EQ(o.contains(QStringLiteral("text")), a.kind == Action::Kind::sendText);
        const auto back = Action::fromJson(o);
        ASSERT_TRUE(back.isOk());
        EXPECT_EQ(back.value(), a);
    }
}

TEST(KeyboardShortcutTest, DisplayPartsInFixedOrder) {
    using K = KeyboardShortcut;
    struct Case {
        K shortcut;
        QStringList parts;
    };
    const Case cases[] = {
        {K::defaultShortcut(), {QStringLiteral("Super"), QStringLiteral(";")}},
        {K{40, K::kCommand | K::kOption | K::kShift},
         {QStringLiteral("Super"), QStringLiteral("Alt"), QStringLiteral("Shift"), QStringLiteral("K")}},
        {K{10, K::kControl}, {QStringLiteral("Ctrl"), QStringLiteral("Key10")}},
        {K{49, K::kShift | K::kControl | K::kOption | K::kCommand},
         {QStringLiteral("Super"), QStringLiteral("Alt"), QStringLiteral("Ctrl"), QStringLiteral("Shift"), QStringLiteral("Space")}},
        {K{200, 0}, {QStringLiteral("Key200")}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.shortcut.displayString(), c.parts);
    EXPECT_EQ(K::defaultShortcut().modifiers, 256u);
}

TEST(KeyboardShortcutTest, KeyNamesCoverTheTableAndFallBack) {
    struct Case {
        uint32_t code;
        const char* name;
    };
    const Case cases[] = {{0, "A"},     {9, "V"},     {10, "Key10"}, {11, "B"},     {17, "T"},    {18, "1"},
                          {22, "6"},    {23, "5"},    {24, "="},     {27, "-"},     {29, "0"},    {30, "]"},
                          {33, "["},    {35, "P"},    {36, "↩"},     {39, "'"},     {41, ";"},    {42, "\\"},
                          {47, "."},    {48, "⇥"},    {49, "Space"}, {50, "`"},     {51, "⌫"},    {52, "Key52"},
                          {53, "⎋"},    {54, "Key54"}, {95, "Key95"}, {96, "F5"},   {99, "F3"},   {101, "F9"},
                          {102, "Key102"}, {103, "F11"}, {104, "Key104"}, {109, "F10"}, {110, "Key110"},
                          {111, "F12"}, {112, "Key112"}, {114, "Key114"}, {115, "↖"}, {116, "⇞"},  {117, "⌦"},
                          {118, "F4"},  {119, "↘"},  {120, "F2"},   {121, "⇟"},   {122, "F1"},  {123, "←"},
                          {124, "→"},   {125, "↓"},   {126, "↑"},    {127, "Key127"}, {4294967295u, "Key4294967295"}};
    for (const auto& c : cases) EXPECT_EQ(keyName(c.code), QString::fromUtf8(c.name)) << c.code;
}

TEST(KeyboardShortcutTest, ConvertsEventFlagsToHotKeyBits) {
    using K = KeyboardShortcut;
    EXPECT_EQ(K::carbonModifiers(K::kFlagCommand | K::kFlagOption), 0x900u);
    EXPECT_EQ(K::carbonModifiers(K::kFlagCommand | K::kFlagOption | K::kFlagControl | K::kFlagShift), 0x1B00u);
    EXPECT_EQ(K::carbonModifiers(0x10000 /* caps lock */ | 0x800000 /* function */), 0u);
}

// A shortcut is held for the whole desktop: one that any application's typing can produce would
// swallow that key everywhere.
TEST(KeyboardShortcutTest, OnlyShortcutsThatTypingCannotProduceAreSafe) {
    using K = KeyboardShortcut;
    struct Case {
        const char* name;
        K shortcut;
        bool safe;
    };
    const Case cases[] = {
        {"the default super-semicolon", K::defaultShortcut(), true},
        {"control-shift-1", {18, K::kControl | K::kShift}, true},
        {"alt-K", {40, K::kOption}, true},
        {"shift-1 types an exclamation mark", {18, K::kShift}, false},
        {"a plain letter", {0, 0}, false},
        {"shift-return", {36, K::kShift}, false},
        {"F5 alone", {96, 0}, true},
        {"shift-F10", {109, K::kShift}, true},
        {"a key code without a key", {10, K::kCommand}, false},
        {"a key code past the table", {300, K::kControl}, false},
        {"a modifier bit we do not know", {41, K::kCommand | 0x1}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(c.shortcut.isSafe(), c.safe) << c.name;
}

TEST(KeyboardShortcutTest, JsonFormRequiresBothKeys) {
    const auto good = KeyboardShortcut::fromJsonData(R"({"keyCode": 41, "modifiers": 256})");
    ASSERT_TRUE(good.isOk());
    EXPECT_EQ(good.value(), KeyboardShortcut::defaultShortcut());
    EXPECT_FALSE(KeyboardShortcut::fromJsonData(R"({"keyCode": 41})").isOk());
    EXPECT_FALSE(KeyboardShortcut::fromJsonData(R"({"keyCode": -1, "modifiers": 0})").isOk());
    EXPECT_FALSE(KeyboardShortcut::fromJsonData("not json").isOk());
    const auto back = KeyboardShortcut::fromJsonData(KeyboardShortcut{40, 0x900}.toJsonData());
    ASSERT_TRUE(back.isOk());
    EXPECT_EQ(back.value(), (KeyboardShortcut{40, 0x900}));
}

TEST(PreferredDisplayTest, StoredStringsAndCodedForm) {
    struct Case {
        const char* stored;
        PreferredDisplay expected;
    };
    const Case cases[] = {{"", PreferredDisplay::automatic()},
                          {"auto", PreferredDisplay::automatic()},
                          {"builtin", PreferredDisplay::builtin()},
                          {"external", PreferredDisplay::external()},
                          {"DP-1", PreferredDisplay::automatic()},
                          {"screen:", PreferredDisplay::screen(QStringLiteral("screen:"))},
                          {"screen:HDMI-1", PreferredDisplay::screen(QStringLiteral("screen:HDMI-1"))}};
    for (const auto& c : cases)
        EXPECT_EQ(PreferredDisplay::fromStoredValue(QString::fromUtf8(c.stored)), c.expected) << c.stored;

    const auto screen = PreferredDisplay::screen(QStringLiteral("screen:DP-2"));
    EXPECT_EQ(QJsonDocument(screen.encoded()).toJson(QJsonDocument::Compact), R"({"screen":{"_0":"screen:DP-2"}})");
    EXPECT_EQ(QJsonDocument(PreferredDisplay::automatic().encoded()).toJson(QJsonDocument::Compact), R"({"auto":{}})");
    const auto decoded = PreferredDisplay::decode(screen.encoded());
    ASSERT_TRUE(decoded.isOk());
    EXPECT_EQ(decoded.value(), screen);
    const auto twoKeys = PreferredDisplay::decode(QJsonDocument::fromJson(R"({"auto":{},"builtin":{}})").object());
    ASSERT_FALSE(twoKeys.isOk());
    EXPECT_EQ(twoKeys.error(), QStringLiteral("Invalid number of keys found, expected one."));
}

TEST(GestureTypeTest, RawValues) {
    EXPECT_EQ(gestureTypeName(GestureType::double_), QStringLiteral("double"));
    EXPECT_EQ(gestureTypeFromName(QStringLiteral("triple")), GestureType::triple);
    EXPECT_FALSE(gestureTypeFromName(QStringLiteral("Single")).has_value());
    EXPECT_EQ(Action::defaultFor(GestureType::single), Action::toggleRecording());
}
