#pragma once

#include "server/ServerState.h"

// Sends one frame to the player its target names, or with target 0 to every player but
// `exclude`. Nothing is reported: a player whose connection fails is found by the next liveness
// test.
void SendRelayMessage(ServerState& state, const Frame& frame, PlayerId exclude);

// Sends one of the two greeting frames to a newly admitted player; it is not counted as
// relayed.
void SendGreeting(ServerState& state, PlayerId id, const char* text);

// Writes each player's kept output as far as its socket takes it now.
void FlushPlayerOutput(ServerState& state);
