#pragma once

#include "protocol/Frame.h"

// Whether `frame` is greeting `index` of a newly admitted player: greeting 0 names the player's
// id in its target and, as decimal text, in its value, and sets `id`; greeting 1 (the server's
// clock) names the same `id` in its target. Both are welcome messages.
bool IsGreeting(const Frame& frame, int index, PlayerId& id);
