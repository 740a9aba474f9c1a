#include "server/PlayerActivity.h"

#include <algorithm>

PlayerActivity::PlayerActivity(const PlayerRegistry& registry) {
    std::vector<NetSocket*> endpoints;
    ids.reserve(registry.size());
    endpoints.reserve(registry.size());
    for (const auto& [id, endpoint] : registry) {
        ids.push_back(id);
        endpoints.push_back(endpoint.get());
    }
    active.resize(ids.size());
    NetSocket::PollActivity(endpoints.data(), endpoints.size(), active.data());
}

bool PlayerActivity::NeedsAttention(PlayerId id, const NetSocket& endpoint) const {
    const auto found = std::lower_bound(ids.begin(), ids.end(), id);
    if (found == ids.end() || *found != id) {
        return true;
    }
    return active[static_cast<std::size_t>(found - ids.begin())] != 0 || endpoint.HasFailed();
}
