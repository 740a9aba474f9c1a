#pragma once

#include "server/ServerOptions.h"
#include "server/ServerState.h"

#include <cstdio>

// The program: the operator's dialogue (or the options instead), the listener and the operator's
// channels, then passes 100 ms apart until a stop is asked for, by a signal or a quit from the
// console or the control socket. Returns the exit status: 0 after a clean stop; without --port,
// 1 when no port was given and 0 when the listener cannot be opened; with --port, 1 when it
// cannot be opened; 1 when a channel asked for cannot be opened.
int RunServer(ServerState& state, const ServerOptions& options, std::FILE* in, std::FILE* out,
              std::FILE* errors);
