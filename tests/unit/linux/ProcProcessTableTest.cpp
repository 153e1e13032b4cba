// Which desktop session a process belongs to, read from its environment block.
#include <gtest/gtest.h>

#include <string>

#include "platform/linux/ProcProcessTable.h"

namespace vocalynx::test {
namespace {

using Session = ProcProcessTable::Session;

std::string block(std::initializer_list<const char*> entries) {
    std::string out;
    for (const char* e : entries) {
        out += e;
        out += '\0';
    }
    return out;
}

TEST(ProcProcessTableSession, ReadsDisplayAndBusFromTheEnvironmentBlock) {
    struct Case {
        const char* name;
        std::string environ;
        Session expected;
    };
    const Case cases[] = {
        {"both", block({"HOME=/h", "DISPLAY=:1", "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1/bus"}),
         {":1", "unix:path=/run/user/1/bus"}},
        {"the screen number is dropped", block({"DISPLAY=:1.0"}), {":1", ""}},
        {"a host name keeps its dots", block({"DISPLAY=host.example:2.1"}), {"host.example:2", ""}},
        {"look-alike names do not count", block({"XDISPLAY=:5", "DISPLAY_X=:6", "DBUS_SESSION_BUS_ADDRESSX=y"}), {}},
        {"a last entry without its terminator", std::string("A=1") + '\0' + "DISPLAY=:3", {":3", ""}},
        {"nothing", std::string(), {}},
    };
    for (const Case& c : cases) EXPECT_EQ(ProcProcessTable::sessionFromEnvironment(c.environ), c.expected) << c.name;
}

TEST(ProcProcessTableSession, ASharedDisplayOrBusMakesOneSession) {
    struct Case {
        const char* name;
        Session a, b;
        bool same;
    };
    const Case cases[] = {
        {"same display and bus", {":0", "bus-a"}, {":0", "bus-a"}, true},
        {"same display, other bus", {":0", "bus-a"}, {":0", "bus-b"}, true},
        {"other display, same bus", {":0", "bus-a"}, {":1", "bus-a"}, true},
        {"other display and bus", {":0", "bus-a"}, {":1", "bus-b"}, false},
        {"we have a display, it has none", {":0", ""}, {"", ""}, false},
        {"neither has a display or bus", {"", ""}, {"", ""}, true},
        {"empty values never match", {"", "bus-a"}, {"", "bus-b"}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(ProcProcessTable::sameSession(c.a, c.b), c.same) << c.name;
}

}  // namespace
}  // namespace vocalynx::test
