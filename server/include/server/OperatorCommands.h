#pragma once

#include "server/ServerState.h"

#include <string_view>

enum class CommandResult { Continue, Quit };

// Carries out one line the operator typed while the server runs: players, kick ID, stats,
// quit or help. Its answers go to the console; an empty line is ignored.
CommandResult RunOperatorCommand(ServerState& state, std::string_view line);
