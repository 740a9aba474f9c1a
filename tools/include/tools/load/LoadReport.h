#pragma once

#include "tools/load/ChaosFault.h"
#include "tools/load/DeliveryCheck.h"
#include "tools/load/LoadSession.h"
#include "tools/load/ServerWatch.h"

#include <unordered_map>

// The parts of the report vor-load prints at the end of a run.

void PrintDeliveries(const DeliveryCheck& check, std::size_t admitted, std::size_t requested,
                     unsigned connectionsLost);

// One line per sender class, broadcasters and directed senders: how many of each player's frames
// the server had relayed by the end of the sending time.
void PrintRelayedBySender(const std::vector<LoadPlayer>& players,
                          const std::unordered_map<PlayerId, SenderTally>& tallies);

void PrintChaos(const ChaosTally& tally, const DeliveryCounts& counts, std::size_t chaosPlayers);

void PrintServer(const ServerWatch& server, long boundKib);

// The processor time, in microseconds, that the server had used when the sending began, when it
// ended and when the drain ended (-1 where the server could not be read), and how long the
// sending took.
struct ServerProcessor {
    std::int64_t atStart = -1;
    std::int64_t afterSending = -1;
    std::int64_t afterDrain = -1;
    std::int64_t sendingMicros = 0;
};

// The server's processor time over the sending time, as a share of one core, and per delivered
// frame, from the start of the sending to the end of the drain; nothing when it was not read.
void PrintServerProcessor(const ServerProcessor& processor, std::uint64_t delivered);
