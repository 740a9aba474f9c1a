#pragma once

#include "server/ServerState.h"

// Takes at most one whole message from each player in id order and acts on it: a leave message
// removes the player, others are relayed, and those addressed to the server are shown when the
// operator asked for it, which also ends the pass.
void DispatchMessages(ServerState& state);

// Takes in what player `id`'s socket holds now, as the dispatch does when it visits a player, and
// notes a whole message that it completes, so that the next dispatch handles it. False when
// there is no such player.
bool TakeInPlayerInput(ServerState& state, PlayerId id);
