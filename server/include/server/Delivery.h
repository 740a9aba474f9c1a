#pragma once

#include "server/ServerState.h"

// Adds the bytes of one frame, unchanged, to the output kept for the player its target names, or
// with target 0 for every player but `exclude`; FlushPlayerOutput writes it. Nothing is reported: a
// player whose connection fails is found by the next liveness test.
void SendRelayMessage(ServerState& state, const FrameView& frame, PlayerId exclude);

// Adds one of the two greeting frames to a newly admitted player's output; it is not counted as
// relayed.
void SendGreeting(ServerState& state, PlayerId id, const char* text);

// Writes the kept output of every player that has some, with one write each, as far as its
// socket takes it now.
void FlushPlayerOutput(ServerState& state);
// The same for player `id` alone.
void FlushPlayerOutput(ServerState& state, PlayerId id);
