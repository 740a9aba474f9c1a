#pragma once

#include "server/CommandResult.h"
#include "server/ControlChannel.h"
#include "server/MetricsEndpoint.h"
#include "server/ServerOptions.h"

#include <string>
#include <vector>

struct ServerState;

// The operator's ways in beside the console: the control socket (--control) and the metrics
// endpoint (--metrics), each open only when its option was given.
struct OperatorChannels {
    ControlChannel control;
    MetricsEndpoint metrics;
};

// Opens the channels the options ask for. 1 with `problem` set when one cannot be opened; none
// is left open then.
int OpenOperatorChannels(ServerState& state, const ServerOptions& options, std::string& problem);
// Serves both channels once, without waiting; Quit when a control connection asked for it.
CommandResult ServeOperatorChannels(ServerState& state);
// The sockets whose input the channels wait for, for a wait on them beside the players'.
std::vector<sockets::SocketHandle> OperatorChannelSockets(const ServerState& state);
// True while a control connection or a scraper is open, which the channels must serve now and
// then even when nothing arrives (answers waiting for room, idle limits).
bool OperatorConnectionsOpen(const ServerState& state);
// Closes every channel; the control socket's path is removed.
void CloseOperatorChannels(ServerState& state);
