#include "server/PlayerRegistry.h"

bool PlayerRegistry::Add(PlayerId id, std::unique_ptr<NetSocket> endpoint) {
    if (!endpoint) {
        return false;
    }
    return entries.emplace(id, std::move(endpoint)).second;
}
