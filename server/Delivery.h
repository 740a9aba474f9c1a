#pragma once

#include "server/ServerState.h"

// Frames one message and sends it to the player `target` names, or with target 0 to every
// player but `exclude`. Nothing is reported: a player whose connection fails is found by the
// next liveness test.
void SendRelayMessage(ServerState& state, std::uint8_t id, PlayerId target, const void* value,
                      std::uint8_t length, PlayerId exclude);

// Sends one of the two greeting frames to a newly admitted player.
void SendGreeting(ServerState& state, PlayerId id, const char* text);

// Writes each player's kept output as far as its socket takes it now.
void FlushPlayerOutput(ServerState& state);
