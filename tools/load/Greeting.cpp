#include "tools/load/Greeting.h"

#include "program/DecimalNumber.h"

bool IsGreeting(const Frame& frame, int index, PlayerId& id) {
    if (frame.id != MSG_WELCOME) {
        return false;
    }
    if (index > 0) {
        return frame.target == id;
    }
    std::uint64_t named = 0;
    if (!ParseDecimal(frame.value, LAST_PLAYER_ID, named) || named != frame.target) {
        return false;
    }
    id = frame.target;
    return true;
}
