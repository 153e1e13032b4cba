#include "platform/linux/ProcProcessTable.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace vocalynx {

namespace {

// At most this much of another process's environment is read (the kernel caps an environment
// far below it), so that no process can make us read without end.
constexpr std::streamsize kEnvironmentLimit = 1 << 20;

std::optional<std::string> readEnvironment(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string text(static_cast<size_t>(kEnvironmentLimit), '\0');
    file.read(text.data(), kEnvironmentLimit);
    if (file.bad()) return std::nullopt;
    text.resize(static_cast<size_t>(file.gcount()));
    return text;
}

std::string withoutScreenNumber(std::string display) {
    // ":1.0" and ":1" name the same display; the screen after the last '.' past the ':' is dropped.
    const size_t colon = display.rfind(':');
    if (colon == std::string::npos) return display;
    const size_t dot = display.find('.', colon);
    if (dot != std::string::npos) display.resize(dot);
    return display;
}

}  // namespace

ProcProcessTable::Session ProcProcessTable::sessionFromEnvironment(const std::string& environment) {
    Session session;
    size_t start = 0;
    while (start < environment.size()) {
        size_t end = environment.find('\0', start);
        if (end == std::string::npos) end = environment.size();
        const std::string_view entry(environment.data() + start, end - start);
        if (entry.starts_with("DISPLAY="))
            session.display = withoutScreenNumber(std::string(entry.substr(8)));
        else if (entry.starts_with("DBUS_SESSION_BUS_ADDRESS="))
            session.sessionBus = std::string(entry.substr(25));
        start = end + 1;
    }
    return session;
}

bool ProcProcessTable::sameSession(const Session& a, const Session& b) {
    if (!a.display.empty() && a.display == b.display) return true;
    if (!a.sessionBus.empty() && a.sessionBus == b.sessionBus) return true;
    return a.display.empty() && a.sessionBus.empty() && b.display.empty() && b.sessionBus.empty();
}

std::vector<pid_t> ProcProcessTable::otherInstances() {
    std::vector<pid_t> result;
    struct stat self{};
    if (::stat("/proc/self/exe", &self) != 0) return result;
    const char* display = std::getenv("DISPLAY");
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const Session ours{withoutScreenNumber(display ? display : ""), bus ? bus : ""};
    const pid_t me = ::getpid();
    DIR* dir = ::opendir("/proc");
    if (!dir) return result;
    while (dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (!end || *end != '\0' || pid <= 0 || pid == me) continue;
        struct stat other{};
        const std::string exe = std::string("/proc/") + entry->d_name + "/exe";
        if (::stat(exe.c_str(), &other) != 0) continue;
        if (other.st_dev != self.st_dev || other.st_ino != self.st_ino) continue;
        const std::optional<std::string> environment =
            readEnvironment(std::string("/proc/") + entry->d_name + "/environ");
        if (environment && sameSession(ours, sessionFromEnvironment(*environment)))
            result.push_back(static_cast<pid_t>(pid));
    }
    ::closedir(dir);
    return result;
}

void ProcProcessTable::requestTerminate(pid_t pid) { ::kill(pid, SIGTERM); }

pid_t ProcProcessTable::selfPid() { return ::getpid(); }

std::vector<ProcessEntry> ProcProcessTable::processes() {
    std::vector<ProcessEntry> result;
    DIR* dir = ::opendir("/proc");
    if (!dir) return result;
    while (dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (!end || *end != '\0' || pid <= 0) continue;
        const std::string base = std::string("/proc/") + entry->d_name;
        // The parent is the fourth field of stat, after the command name in parentheses (which may
        // itself hold spaces and parentheses, so the last ')' ends it).
        std::ifstream statFile(base + "/stat");
        const std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
        const size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 4 > stat.size()) continue;
        char state = 0;
        long parent = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %ld", &state, &parent) != 2) continue;
        std::ifstream cmdFile(base + "/cmdline", std::ios::binary);
        std::string cmd((std::istreambuf_iterator<char>(cmdFile)), std::istreambuf_iterator<char>());
        while (!cmd.empty() && cmd.back() == '\0') cmd.pop_back();
        for (char& c : cmd)
            if (c == '\0') c = ' ';
        result.push_back({static_cast<pid_t>(pid), static_cast<pid_t>(parent), QString::fromLocal8Bit(cmd)});
    }
    ::closedir(dir);
    return result;
}

void ProcProcessTable::forceKill(pid_t pid) { ::kill(pid, SIGKILL); }

bool ProcProcessTable::exists(pid_t pid) { return ::kill(pid, 0) == 0; }

}  // namespace vocalynx
