#pragma once

#include "server/ServerState.h"

#include <cstdio>

// The program: the operator's dialogue, the listener, then passes 100 ms apart for ever.
// Returns only when no port was given (1) or the listener cannot be opened (0).
int RunServer(ServerState& state, std::FILE* in, std::FILE* out);
