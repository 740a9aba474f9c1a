#pragma once

#include "server/ServerState.h"

// Ends serving: writes what players are still owed for at most a second, closes every player's
// connection and the listener, and prints "Server stopped.".
void StopServing(ServerState& state);
