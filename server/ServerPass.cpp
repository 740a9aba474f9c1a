#include "server/ServerPass.h"

#include "server/Delivery.h"
#include "server/Dispatch.h"
#include "server/Players.h"

void ServerPass(ServerState& state) {
    AdmitPlayer(state);
    SweepPlayers(state);
    DispatchMessages(state);
    FlushPlayerOutput(state);
}
