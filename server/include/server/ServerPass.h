#pragma once

#include "server/ServerState.h"

// One pass of the server: write what players could not take before, admit at most one new
// player, sweep out players whose connection is gone, then dispatch their messages.
void ServerPass(ServerState& state);
