#include "server/PlayerActivity.h"

#include <algorithm>

void PlayerActivity::Watch(PlayerId id, const NetSocket& endpoint) {
    if (readiness.Join(endpoint, id) != 0) {
        unwatched.Insert(id);
    }
}

void PlayerActivity::Forget(PlayerId id, const NetSocket& endpoint) {
    if (unwatched.Contains(id)) {
        unwatched.Erase(id);
    } else {
        readiness.Leave(endpoint);
    }
    wholeMessage.Erase(id);
    keptOutput.Erase(id);
    failedSend.Erase(id);
}

bool PlayerActivity::Reported(std::vector<PlayerId>& ids) {
    ids.clear();
    if (readiness.Collect(keys) != 0) {
        return false;
    }
    for (const std::uint32_t key : keys) {
        ids.push_back(static_cast<PlayerId>(key));
    }
    for (auto id = unwatched.NextFrom(0); id; id = unwatched.NextFrom(*id + 1u)) {
        ids.push_back(*id);
    }
    std::sort(ids.begin(), ids.end());
    return true;
}
