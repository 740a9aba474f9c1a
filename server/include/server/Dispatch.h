#pragma once

#include "server/ServerState.h"

#include <vector>

// Gives each player with something to do at most one turn, in ascending id order (with fair
// turns, from the player after the one whose message ended the last pass round to it again),
// taking one whole message: a leave message removes the player, others are relayed. A message to
// everybody or to the server ends the pass; it is shown when the operator asked for it.
// With messagesPerPass above 1, up to that many such rounds, each starting at the same player
// (with fair turns, after the player whose message was taken last in the pass before); they end
// when no player has a whole message left, and no message ends them early.
// `reported` is the pass's readiness report (players the sweep removed may be in it).
void DispatchMessages(ServerState& state, const std::vector<ReportedPlayer>& reported);
