#pragma once

#include "server/ServerState.h"

// Ends serving: for at most a second, writes what players are still owed and drops what they
// send (no message is handled any more), within the bounds serving keeps; then closes every
// player's connection and the listener, and prints "Server stopped.".
void StopServing(ServerState& state);
