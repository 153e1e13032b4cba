#include "platform/linux/ProcProcessTable.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
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

}  // namespace vocalynx
