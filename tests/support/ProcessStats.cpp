#include "tests/support/ProcessStats.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

std::optional<long> ResidentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return std::nullopt;
}

std::optional<long> CpuMilliseconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
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
