#pragma once

#include "net/NetSocket.h"
#include "protocol/Frame.h"
#include "server/PlayerRegistry.h"

#include <cstdio>

// Everything a running server holds. The program keeps one with static storage duration; tests
// make their own and drive passes on it.
struct ServerState {
    bool displayMessages = false;
    // The message the dispatch phase is handling.
    Frame message;
    // Declared before the registry, so that the players' endpoints go first at teardown.
    NetSocket listener;
    PlayerRegistry registry;
    // Where console lines go.
    std::FILE* console = stdout;
};
