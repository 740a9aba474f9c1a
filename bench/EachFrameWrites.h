#pragma once

#include "protocol/Frame.h"
#include "server/ServerState.h"

// The relay as it wrote before it collected a pass's frames per player: each frame written to
// its receiver at once, one write per frame and receiver. Built from the relay's own phases, so
// that the benchmarks can set what one write per pass saves against it.

// Relays `frame` as SendRelayMessage does, then writes it at once.
void RelayAndWriteAtOnce(ServerState& state, const FrameView& frame, PlayerId exclude);

// A pass as ServerPass makes it, but with each reported player's turn taken alone and what it
// relayed written before the next turn. For passes without a message to everybody or to the
// server, which would end a pass of whole turns early.
void PassWritingEachFrame(ServerState& state);
