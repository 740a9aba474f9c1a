#pragma once

#include "tools/load/ChaosFault.h"

#include <cstdint>
#include <string>
#include <vector>

struct LoadOptions {
    std::uint16_t port = 0;
    unsigned players = 50;
    unsigned durationSeconds = 30;
    // Directed frames per player per second.
    double rate = 2.0;
    // Broadcasts per second, from all players together.
    double broadcasts = 0.5;
    // How long to wait after the last send for frames still on their way.
    unsigned drainSeconds = 10;
    // Hold the players for the duration without sending anything.
    bool idle = false;
    // Well-behaved players that send broadcasts at `broadcasterRate` per second each (every
    // 100 ms, one per pass of the default pace, unless given) and no directed frames.
    unsigned broadcasters = 0;
    double broadcasterRate = 10.0;
    // Every value of a well-behaved player takes all 255 bytes.
    bool fullValues = false;
    // Connect without waiting for a greeting, for a server that sends none (a byte broker that
    // relays every byte to all other connections): the players take ids by their order of
    // connection, send only broadcasts and leave without the leave message.
    bool noGreeting = false;
    // The share of the players that misbehave, and the faults they pick from.
    double chaosShare = 0.0;
    std::vector<ChaosFault> chaosFaults = AllChaosFaults();
    // Seeds every random choice of the run; chosen from the clock when not given.
    std::uint64_t seed = 0;
    bool seedGiven = false;
    // The server whose resident memory is watched: one already running, or one the tool starts
    // on PORT from this path.
    unsigned serverPid = 0;
    std::string spawnPath;
    // Passed to the spawned server after its port.
    std::vector<std::string> serverArguments;

    unsigned ChaosPlayers() const;
    unsigned SteadyPlayers() const { return players - ChaosPlayers(); }
};

enum class LoadRequest { Run, ShowHelp, ShowVersion, Refused };

// Reads the command line into `options`; Refused, with the reason in `error`, when it is wrong.
LoadRequest ParseLoadOptions(int argc, const char* const* argv, LoadOptions& options,
                             std::string& error);

// The most resident memory, in KiB, that a server may use for this run's players: a fixed base
// plus a full input buffer and a full output buffer for each.
long ServerMemoryBoundKib(const LoadOptions& options);

// The deliveries that a run with these options expects, which bounds its memory and time.
double ExpectedDeliveries(const LoadOptions& options);

// The text --help prints, made from the options' declarations.
std::string LoadUsage();
