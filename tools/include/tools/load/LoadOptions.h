#pragma once

#include <cstdint>
#include <string>

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
};

// Reads the command line into `options`; false, with the reason in `error`, when it is wrong.
// `help` is set for --help.
bool ParseLoadOptions(int argc, const char* const* argv, LoadOptions& options, bool& help,
                      std::string& error);

// The deliveries that a run with these options expects, which bounds its memory and time.
double ExpectedDeliveries(const LoadOptions& options);

extern const char* const LOAD_USAGE;
