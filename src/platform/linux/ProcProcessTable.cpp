#include "platform/linux/ProcProcessTable.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace vocalynx {

std::vector<pid_t> ProcProcessTable::otherInstances() {
    std::vector<pid_t> result;
    struct stat self{};
    if (::stat("/proc/self/exe", &self) != 0) return result;
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
        if (other.st_dev == self.st_dev && other.st_ino == self.st_ino) result.push_back(static_cast<pid_t>(pid));
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
