#include "server/PlayerRegistry.h"

bool PlayerRegistry::Add(PlayerId id, std::unique_ptr<NetSocket> endpoint) {
    if (!endpoint || entries.count(id) != 0) {
        return false;
    }
    activity.Watch(id, *endpoint);
    entries.emplace(id, std::move(endpoint));
    return true;
}

PlayerRegistry::const_iterator PlayerRegistry::Remove(const_iterator entry) {
    // The endpoint leaves the readiness set while its socket is still open.
    activity.Forget(entry->first, *entry->second);
    entry->second->Close();
    return entries.erase(entry);
}

void PlayerRegistry::clear() {
    for (auto entry = entries.cbegin(); entry != entries.cend();) {
        entry = Remove(entry);
    }
}
