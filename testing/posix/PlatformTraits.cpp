#include "testing/PlatformTraits.h"

#include <filesystem>

bool AcceptTakesResetConnections() {
    return true;
}

bool ReceiveWindowWidens() {
    return true;
}

bool ReadinessTellsOnlyData() {
    return true;
}

std::string LocalSocketPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / (name + ".sock")).string();
}

bool LocalSocketIsAFile() {
    return true;
}
