#pragma once

#include "server/ServerState.h"

#include <cstdint>
#include <vector>

// Which players have something to report (data, a close, an error or a failed send), learnt for
// the whole registry in one test without waiting, so that a quiet player costs a phase no system
// call of its own.
class PlayerActivity {
public:
    explicit PlayerActivity(const PlayerRegistry& registry);

    // False only for a player that was quiet when the registry was tested and has not failed a
    // send since: it is connected and has nothing new to receive.
    bool NeedsAttention(PlayerId id, const NetSocket& endpoint) const;

private:
    std::vector<PlayerId> ids;
    std::vector<std::uint8_t> active;
};
