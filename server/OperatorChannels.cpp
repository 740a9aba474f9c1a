#include "server/OperatorChannels.h"

#include "server/ServerState.h"

int OpenOperatorChannels(ServerState& state, const ServerOptions& options, std::string& problem) {
    OperatorChannels& channels = state.channels;
    if (!options.controlPath.empty() && channels.control.Open(options.controlPath, problem) != 0) {
        return 1;
    }
    if (!options.metricsAddress.empty() &&
        channels.metrics.Open(options.metricsAddress, options.metricsPort, problem) != 0) {
        channels.control.Close();
        return 1;
    }
    return 0;
}

CommandResult ServeOperatorChannels(ServerState& state) {
    state.channels.metrics.Serve(state);
    return state.channels.control.Serve(state);
}

std::vector<sockets::SocketHandle> OperatorChannelSockets(const ServerState& state) {
    std::vector<sockets::SocketHandle> sockets;
    state.channels.control.AddWaitedSockets(sockets);
    state.channels.metrics.AddWaitedSockets(sockets);
    return sockets;
}

bool OperatorConnectionsOpen(const ServerState& state) {
    return state.channels.control.HasConnections() || state.channels.metrics.HasScrapers();
}

void CloseOperatorChannels(ServerState& state) {
    state.channels.control.Close();
    state.channels.metrics.Close();
}
