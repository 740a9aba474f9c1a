#pragma once

#include "net/NetSocket.h"
#include "protocol/Frame.h"

#include <cstddef>
#include <map>
#include <memory>

// The connected players by id, walked in ascending id order. Each entry owns its endpoint, and
// every entry has one: Add refuses a null endpoint, and the entries are reachable only as
// constant, so that no one can empty one in place.
class PlayerRegistry {
    using Entries = std::map<PlayerId, std::unique_ptr<NetSocket>>;

public:
    using const_iterator = Entries::const_iterator;

    // Adds `endpoint` as player `id`; false, adding nothing, when the endpoint is null or the id
    // is taken.
    bool Add(PlayerId id, std::unique_ptr<NetSocket> endpoint);
    // Drops the entry with its endpoint and returns the entry that followed it.
    const_iterator Remove(const_iterator entry) { return entries.erase(entry); }
    void clear() { entries.clear(); }

    const_iterator begin() const { return entries.begin(); }
    const_iterator end() const { return entries.end(); }
    const_iterator find(PlayerId id) const { return entries.find(id); }
    const_iterator lower_bound(PlayerId id) const { return entries.lower_bound(id); }
    std::size_t count(PlayerId id) const { return entries.count(id); }
    std::size_t size() const { return entries.size(); }
    bool empty() const { return entries.empty(); }

private:
    Entries entries;
};
