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
