#pragma once

#include "net/NetSocket.h"
#include "protocol/Frame.h"
#include "server/PlayerActivity.h"

#include <cstddef>
#include <map>
#include <memory>

// The connected players by id, walked in ascending id order. Each entry owns its endpoint, and
// every entry has one: Add refuses a null endpoint, and the entries are reachable only as
// constant, so that no one can empty one in place. Every entry's endpoint is watched for the
// passes from Add to Remove (see PlayerActivity).
class PlayerRegistry {
    using Entries = std::map<PlayerId, std::unique_ptr<NetSocket>>;

public:
    using const_iterator = Entries::const_iterator;

    // Adds `endpoint` as player `id` and watches it; false, adding nothing, when the endpoint is
    // null or the id is taken.
    bool Add(PlayerId id, std::unique_ptr<NetSocket> endpoint);
    // Stops watching the entry, closes and drops its endpoint, and returns the entry that
    // followed it.
    const_iterator Remove(const_iterator entry);
    void clear();

    // What the passes know about the players from one pass to the next.
    PlayerActivity& Activity() { return activity; }

    const_iterator begin() const { return entries.begin(); }
    const_iterator end() const { return entries.end(); }
    const_iterator find(PlayerId id) const { return entries.find(id); }
    const_iterator lower_bound(PlayerId id) const { return entries.lower_bound(id); }
    std::size_t count(PlayerId id) const { return entries.count(id); }
    std::size_t size() const { return entries.size(); }
    bool empty() const { return entries.empty(); }

private:
    Entries entries;
    PlayerActivity activity;
};
