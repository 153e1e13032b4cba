#include <gtest/gtest.h>

#include "core/Types.h"
#include "platform/linux/KeyTable.h"

#include <X11/X.h>
#include <X11/keysym.h>

namespace vocalynx {
namespace {

TEST(KeyTableTest, EveryNamedKeyHasAKeysymThatReadsBackToItsCode) {
    int named = 0;
    for (uint32_t code = 0; code < 140; ++code) {
        const bool hasOwnName = !keyName(code).startsWith(QStringLiteral("Key"));
        const auto keysym = KeyTable::keysymForKeyCode(code);
        EXPECT_EQ(keysym.has_value(), hasOwnName) << "code " << code;
        if (!keysym) continue;
        ++named;
        EXPECT_EQ(KeyTable::keyCodeForKeysym(*keysym), code) << "code " << code;
    }
    EXPECT_EQ(named, 73);
}

TEST(KeyTableTest, KeysTheSystemRelies) {
    struct Case {
        uint32_t code;
        unsigned long keysym;
    };
    const Case cases[] = {{0, XK_a}, {41, XK_semicolon}, {36, XK_Return}, {53, XK_Escape}, {9, XK_v},
                          {49, XK_space}, {50, XK_grave}, {109, XK_F10}, {117, XK_Delete}, {126, XK_Up}};
    for (const Case& c : cases) EXPECT_EQ(KeyTable::keysymForKeyCode(c.code), c.keysym) << c.code;
    // Shifted letters and the other Return/Tab keysyms read back to the same key.
    EXPECT_EQ(KeyTable::keyCodeForKeysym(XK_K), 40u);
    EXPECT_EQ(KeyTable::keyCodeForKeysym(XK_KP_Enter), 36u);
    EXPECT_EQ(KeyTable::keyCodeForKeysym(XK_ISO_Left_Tab), 48u);
    EXPECT_FALSE(KeyTable::keyCodeForKeysym(XK_Shift_L));
}

TEST(KeyTableTest, ModifiersMapBothWays) {
    struct Case {
        uint32_t carbon;
        uint64_t flags;
        unsigned int x;
    };
    const Case cases[] = {
        {0x100, 0x100000, Mod4Mask},
        {0x800, 0x80000, Mod1Mask},
        {0x1000, 0x40000, ControlMask},
        {0x200, 0x20000, ShiftMask},
        {0x100 | 0x800 | 0x200, 0x100000 | 0x80000 | 0x20000, Mod4Mask | Mod1Mask | ShiftMask},
        {0, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KeyTable::xModifiersForCarbon(c.carbon), c.x);
        EXPECT_EQ(KeyTable::xModifiersForEventFlags(c.flags), c.x);
        EXPECT_EQ(KeyTable::carbonModifiersForX(c.x), c.carbon);
        EXPECT_EQ(KeyTable::eventFlagsForX(c.x), c.flags);
    }
    // Caps Lock and Num Lock are no part of a shortcut.
    EXPECT_EQ(KeyTable::carbonModifiersForX(Mod4Mask | LockMask | Mod2Mask), 0x100u);
    // Read back as event flags, Caps Lock keeps its own flag (which no shortcut counts).
    EXPECT_EQ(KeyTable::eventFlagsForX(Mod4Mask | LockMask | Mod2Mask), 0x100000u | 0x10000u);
}

}  // namespace
}  // namespace vocalynx
