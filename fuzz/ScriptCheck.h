#pragma once

#include "fuzz/FuzzScript.h"

// Plays the script against a relay in this process: a ServerState with a loopback listener on a
// free port, real client connections, and ServerPass for each pass. After every pass it compares
// the server with the model of the relay: the players in the registry, the bytes each holds,
// the console text, and every frame each client has read. Any difference aborts the process.
// Every connection the run opened is closed when it returns.
void RunRelayScript(const FuzzScript& script);
