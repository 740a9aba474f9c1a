#include "bench/EachFrameWrites.h"

#include "server/Delivery.h"
#include "server/Dispatch.h"
#include "server/Players.h"
#include "sync/Clock.h"

#include <vector>

void RelayAndWriteAtOnce(ServerState& state, const FrameView& frame, PlayerId exclude) {
    SendRelayMessage(state, frame, exclude);
    FlushPlayerOutput(state);
}

void PassWritingEachFrame(ServerState& state) {
    AdmitPlayer(state, TickCount());
    const std::vector<ReportedPlayer> reported = ReportedPlayers(state);
    SweepPlayers(state, reported);
    std::vector<ReportedPlayer> turn(1);
    for (const ReportedPlayer& player : reported) {
        turn[0] = player;
        DispatchMessages(state, turn);
        FlushPlayerOutput(state);
    }
}
