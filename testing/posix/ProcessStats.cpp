#include "testing/ProcessStats.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace {

std::string ProcessFile(ProcessId process, const char* name) {
    return "/proc/" + std::to_string(process) + "/" + name;
}

}  // namespace

ProcessId ThisProcess() {
    return getpid();
}

std::optional<long> ResidentKilobytes(ProcessId process) {
    std::ifstream status(ProcessFile(process, "status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return std::nullopt;
}

std::optional<long> CpuMilliseconds(ProcessId process) {
    std::ifstream stat(ProcessFile(process, "stat"));
    std::string text;
    if (!std::getline(stat, text)) {
        return std::nullopt;
    }
    // The command name may hold spaces; the fields after it are counted from its ')'.
    const std::size_t end = text.rfind(')');
    if (end == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    long user = 0;
    long system = 0;
    // After the name: state is field 3, utime field 14 and stime field 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) {
            user = std::stol(field);
        } else if (index == 15) {
            system = std::stol(field);
        }
    }
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    return (user + system) * 1000 / ticksPerSecond;
}

int OpenSocketCount(ProcessId process) {
    const std::string directory = ProcessFile(process, "fd");
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) {
        return 0;
    }
    int count = 0;
    while (const dirent* entry = readdir(listing)) {
        char target[256];
        const std::string link = directory + "/" + entry->d_name;
        const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        if (length > 0 &&
            std::string_view(target, static_cast<std::size_t>(length)).starts_with("socket:")) {
            ++count;
        }
    }
    closedir(listing);
    return count;
}

std::size_t OpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 0;
    }
    return static_cast<std::size_t>(limit.rlim_cur);
}
