#include "testing/PlatformTraits.h"

bool AcceptTakesResetConnections() {
    return false;
}

bool ReceiveWindowWidens() {
    return false;
}

bool ReadinessTellsOnlyData() {
    return false;
}

std::string LocalSocketPath(const std::string& name) {
    return R"(\\.\pipe\)" + name;
}

bool LocalSocketIsAFile() {
    return false;
}
