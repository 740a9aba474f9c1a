#pragma once

#include "net/NetSocket.h"
#include "protocol/Frame.h"
#include "server/PlayerActivity.h"
#include "server/SteadyClock.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Everything known about one connected player.
struct PlayerRecord {
    std::unique_ptr<NetSocket> endpoint;
    // The peer address it connected from, as text.
    std::string address;
    SteadyClock::time_point admittedAt;
    // Whole messages taken from it.
    std::uint64_t messagesIn = 0;
    // Relayed messages sent to it; the greeting is not counted.
    std::uint64_t messagesOut = 0;
};

// The connected players by id, walked in ascending id order, and the one owner of their records.
// Every entry has an endpoint: Add refuses a null one. The entries are reachable only as
// constant, so that a record's counts and what the passes know about a player (its activity: a
// whole message buffered, output kept, a failed send) change only through the verbs below. The
// output verbs note the activity together with what they do to the endpoint; a caller that reads
// from an endpoint tells the registry with NoteBufferedInput. Every entry's endpoint is watched
// for the passes from Add to Remove. An entry is found by its id with one index, not a walk of
// the tree: the passes look players up once per message.
class PlayerRegistry {
    using Entries = std::map<PlayerId, PlayerRecord>;

public:
    using const_iterator = Entries::const_iterator;

    PlayerRegistry() = default;
    // Neither copied nor moved: the index holds iterators into this registry's own entries.
    PlayerRegistry(const PlayerRegistry&) = delete;
    PlayerRegistry& operator=(const PlayerRegistry&) = delete;

    // Adds `endpoint`, connected from `address`, as player `id`, admitted now, and watches it;
    // false, adding nothing, when the endpoint is null or the id is taken.
    bool Add(PlayerId id, std::unique_ptr<NetSocket> endpoint, std::string address = {});
    // Stops watching the entry, closes and drops its endpoint and forgets the player, and
    // returns the entry that followed it.
    const_iterator Remove(const_iterator entry);
    void clear();

    // How many players connected from `address`.
    std::size_t PlayersFrom(const std::string& address) const;

    // Notes whether a whole message waits in the player's receive buffer; called after its
    // input was taken in or a message was taken from it.
    void NoteBufferedInput(const_iterator entry);
    // Adds `size` bytes to the player's output, written by Flush or FlushKeptOutput; 0 when they
    // were taken. What is kept and whether the connection failed are noted.
    int KeepOutput(const_iterator entry, const std::uint8_t* bytes, std::size_t size);
    // Writes the player's kept output with one write, as far as its socket takes it now.
    void Flush(const_iterator entry);
    // The same for every player that keeps output.
    void FlushKeptOutput();
    void CountMessageIn(const_iterator entry);
    void CountMessageOut(const_iterator entry);

    // Start loading into the processor's cache what a turn of player `id` uses, without waiting
    // for it: its record, and its endpoint, whose address is in the record (so the record is
    // best fetched a step earlier). Nothing for an id that is not a player.
    void FetchRecordAhead(PlayerId id) const;
    void FetchEndpointAhead(PlayerId id) const;

    // What the passes know about the players from one pass to the next.
    const PlayerActivity& Activity() const { return activity; }
    // See PlayerActivity: the players whose socket reports something now.
    bool Reported(std::vector<ReportedPlayer>& players) { return activity.Reported(players); }
    ReadinessSet& Readiness() { return activity.Readiness(); }
    void WatchRoomForKeptOutput() { activity.WatchRoomForKeptOutput(); }

    const_iterator begin() const { return entries.begin(); }
    const_iterator end() const { return entries.end(); }
    const_iterator find(PlayerId id) const { return id < byId.size() ? byId[id] : entries.end(); }
    const_iterator lower_bound(PlayerId id) const { return entries.lower_bound(id); }
    std::size_t count(PlayerId id) const { return find(id) != end() ? 1 : 0; }
    std::size_t size() const { return entries.size(); }
    bool empty() const { return entries.empty(); }

private:
    // The entry as changeable, for the verbs.
    Entries::iterator Changeable(const_iterator entry) { return entries.erase(entry, entry); }

    Entries entries;
    // Slot `id` holds player id's entry, or end() when there is none. The table is as long as the
    // highest id added since the last clear, which stays near the player count, since ids are
    // given from the lowest free one.
    std::vector<const_iterator> byId;
    PlayerActivity activity;
};
