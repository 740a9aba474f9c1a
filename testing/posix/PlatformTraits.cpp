#include "testing/PlatformTraits.h"

bool AcceptTakesResetConnections() {
    return true;
}

bool ReceiveWindowWidens() {
    return true;
}

bool ReadinessTellsOnlyData() {
    return true;
}
