#pragma once

#include "server/ServerState.h"

// One pass of the server: admit at most one new player, sweep out players whose connection is
// gone, dispatch their messages, then write each player's output, new and kept from before, in
// one write per player.
void ServerPass(ServerState& state);
