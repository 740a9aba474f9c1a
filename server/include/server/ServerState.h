#pragma once

#include "net/NetSocket.h"
#include "protocol/Frame.h"
#include "server/OperatorChannels.h"
#include "server/PlayerRegistry.h"
#include "server/ServerOptions.h"
#include "server/ServerStatistics.h"

#include <cstdio>

// Everything a running server holds. The program keeps one with static storage duration; tests
// make their own and drive passes on it.
struct ServerState {
    // How the server was started; the operator's answers, when it asked for them, are filled in.
    ServerOptions options;
    // Declared before the registry, so that the players' endpoints go first at teardown.
    NetSocket listener;
    PlayerRegistry registry;
    // Where console lines go.
    std::FILE* console = stdout;
    ServerStatistics statistics;
    // With fair turns, the player whose message ended the pass before (with rounds, whose
    // message was taken last); the next dispatch starts after it.
    PlayerId lastPassEnder = 0;
    // The control socket and the metrics endpoint, when the options ask for them.
    OperatorChannels channels;
};
