#pragma once

#include "server/CommandAnswer.h"
#include "server/ServerState.h"

#include <cstdint>
#include <optional>
#include <vector>

// Unread input kept per player; past it the bytes wait in the socket and TCP slows the sender.
inline constexpr std::size_t PLAYER_RECEIVE_LIMIT = 64u * 1024u;

// Accepts at most one waiting connection and admits it with the lowest free id, greeting it
// with its id and `tickCount`, the server's millisecond clock.
void AdmitPlayer(ServerState& state, std::uint32_t tickCount);
// Removes every player whose connection is gone, testing only those whose socket reports more
// than input or whose send has failed.
void SweepPlayers(ServerState& state, const std::vector<ReportedPlayer>& reported);
// The players whose socket reports something now, in ascending id order: every player, none of
// them known to be connected, when the test fails.
std::vector<ReportedPlayer> ReportedPlayers(ServerState& state);
// Announces the departure on the console, counts it under `cause` (or as fallen behind), closes
// and frees the endpoint and drops the entry. Returns the entry that followed it, where the
// calling walk goes on.
PlayerRegistry::const_iterator RemovePlayer(ServerState& state,
                                            PlayerRegistry::const_iterator entry, Departure cause);
// The console's line for a player that was removed.
void AnnounceDeparture(CommandAnswer& answer, PlayerId id);
// The lowest id from FIRST_PLAYER_ID that has no entry, or none when every id is taken.
std::optional<PlayerId> LowestFreePlayerId(const PlayerRegistry& registry);
