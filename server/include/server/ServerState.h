#pragma once

#include "net/NetSocket.h"
#include "protocol/Frame.h"
#include "server/OperatorChannels.h"
#include "server/PlayerRegistry.h"
#include "server/ServerStatistics.h"
#include "sync/Clock.h"

#include <cstdio>

// Everything a running server holds. The program keeps one with static storage duration; tests
// make their own and drive passes on it.
struct ServerState {
    bool displayMessages = false;
    // Declared before the registry, so that the players' endpoints go first at teardown.
    NetSocket listener;
    PlayerRegistry registry;
    // Relayed frames are written to each player once, at the end of the pass; with this set,
    // each is written at once, one send per frame and receiver, as the relay once did. Only
    // benchmarks set it, to measure what writing once per pass saves.
    bool writeEachFrame = false;
    // Where console lines go.
    std::FILE* console = stdout;
    // Admission refuses connections past these counts; 0 is no limit.
    std::uint32_t maxPlayers = 0;
    std::uint32_t maxPerAddress = 0;
    ServerStatistics statistics;
    // With fair turns each pass's dispatch starts after the player whose message ended the
    // pass before (with rounds, whose message was taken last), instead of at the lowest id.
    bool fairTurns = false;
    PlayerId lastPassEnder = 0;
    // Rounds of turns in a pass, each taking at most one message from each player. With more
    // than one, no message ends the pass early.
    std::uint32_t messagesPerPass = 1;
    // The control socket and the metrics endpoint, when the options ask for them.
    OperatorChannels channels;
    // The clock a new player is greeted with; tests give it any tick count.
    std::uint32_t (*tickCount)() = TickCount;
};
