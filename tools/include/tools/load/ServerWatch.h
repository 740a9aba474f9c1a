#pragma once

#include "tools/load/ChildProcess.h"

#include <cstdint>
#include <string>
#include <vector>

// The server under load, seen from outside: its resident memory at the start and at its highest,
// whether it still runs, and, for a server the tool started itself, the players its console
// reports joining and leaving.
class ServerWatch {
public:
    // Starts the server at `path` listening on `port`, with `arguments` after the port, and waits
    // until it says it listens.
    bool Spawn(const std::string& path, std::uint16_t port, std::string& error,
               const std::vector<std::string>& arguments = {});
    // Watches a server that is already running.
    void Attach(long pid);

    bool Watching() const { return pid > 0; }
    bool Spawned() const { return spawned; }
    long Pid() const { return pid; }
    // Reads the memory and keeps the highest; takes the console of a spawned server. Call it
    // often enough to see the peaks (about once a second) and once at the end.
    void Sample();
    // Ends a server the tool started; the next Sample finds it gone.
    void Stop() { child.Stop(); }
    // True once the server has ended or its process cannot be read any more.
    bool Gone() const { return gone; }
    const std::string& HowItEnded() const { return ending; }

    // The processor time the server has used so far in microseconds, or -1 once it is gone.
    std::int64_t ProcessorTime() const;

    long StartKib() const { return startKib; }
    long HighestKib() const { return highestKib; }
    std::uint64_t ConsoleAdmissions() const { return admissions; }
    std::uint64_t ConsoleDepartures() const { return departures; }

private:
    void TakeConsole();

    ChildProcess child;
    long pid = 0;
    bool spawned = false;
    bool gone = false;
    std::string ending;
    long startKib = -1;
    long highestKib = -1;
    std::string console;
    std::uint64_t admissions = 0;
    std::uint64_t departures = 0;
};
