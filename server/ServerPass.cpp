#include "server/ServerPass.h"

#include "server/Delivery.h"
#include "server/Dispatch.h"
#include "server/Players.h"
#include "sync/Clock.h"

void ServerPass(ServerState& state) {
    AdmitPlayer(state, TickCount());
    // One look at the readiness set serves both phases.
    const std::vector<ReportedPlayer> reported = ReportedPlayers(state);
    SweepPlayers(state, reported);
    DispatchMessages(state, reported);
    FlushPlayerOutput(state);
}
