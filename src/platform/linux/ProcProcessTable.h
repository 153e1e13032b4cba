#pragma once
#include <string>

#include "platform/ProcessTable.h"

namespace vocalynx {

// Reads /proc: a process is another instance when its executable is the same file as ours
// (same device and inode) and it runs in our desktop session: the same X display or the same
// session bus, as its environment (/proc/PID/environ) shows. A copy in another session of the same
// user (a second seat, a remote desktop) is left alone. Processes whose executable or environment
// cannot be read are never taken.
class ProcProcessTable final : public ProcessTable {
public:
    std::vector<pid_t> otherInstances() override;

    // The variables that place a process in a desktop session.
    struct Session {
        std::string display;     // DISPLAY, without a trailing screen number (":1.0" is ":1")
        std::string sessionBus;  // DBUS_SESSION_BUS_ADDRESS
        bool operator==(const Session&) const = default;
    };
    // From an environment block as /proc/PID/environ holds it (NUL-separated NAME=value entries).
    static Session sessionFromEnvironment(const std::string& environment);
    // Whether two processes share a session: a display or a session bus both have and agree on.
    // Two processes that name neither count as one session, since nothing tells them apart.
    static bool sameSession(const Session& a, const Session& b);
    void requestTerminate(pid_t pid) override;

    pid_t selfPid() override;
    // Every process whose status can be read, with /proc/PID/cmdline as its command line.
    std::vector<ProcessEntry> processes() override;
    void forceKill(pid_t pid) override;
    bool exists(pid_t pid) override;
};

}  // namespace vocalynx
