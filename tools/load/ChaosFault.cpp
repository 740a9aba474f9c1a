#include "tools/load/ChaosFault.h"

#include <numeric>

const char* ChaosFaultName(ChaosFault fault) {
    switch (fault) {
        case ChaosFault::ResetMidFrame:
            return "reset in the middle of a frame";
        case ChaosFault::CloseInOrder:
            return "closed in order";
        case ChaosFault::ShutdownSending:
            return "shut down sending only";
        case ChaosFault::PauseReading:
            return "stopped reading for a while";
        case ChaosFault::StopReading:
            return "stopped reading for good";
        case ChaosFault::Flood:
            return "flooded";
        case ChaosFault::ByteAtATime:
            return "wrote frames a byte at a time";
        case ChaosFault::SplitFrames:
            return "wrote frames split at random";
        case ChaosFault::UnknownTarget:
            return "sent to ids nobody holds";
        case ChaosFault::LeaveMessage:
            return "left with the leave message";
    }
    return "unknown";
}

std::uint64_t ChaosTally::FaultsInjected() const {
    return std::accumulate(faults.begin(), faults.end(), std::uint64_t{0});
}

std::vector<ChaosFault> AllChaosFaults() {
    std::vector<ChaosFault> faults;
    for (std::size_t kind = 0; kind < CHAOS_FAULT_KINDS; ++kind) {
        faults.push_back(static_cast<ChaosFault>(kind));
    }
    return faults;
}
