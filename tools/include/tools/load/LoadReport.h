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
