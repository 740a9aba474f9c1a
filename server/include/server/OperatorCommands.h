#pragma once

#include "server/CommandAnswer.h"
#include "server/CommandResult.h"
#include "server/ServerState.h"

#include <string_view>

// Carries out one line the operator typed while the server runs: players, kick ID, stats,
// quit or help. Its answer goes to `answer`; an empty line is ignored.
CommandResult RunOperatorCommand(ServerState& state, std::string_view line, CommandAnswer& answer);
