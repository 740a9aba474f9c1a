#pragma once

#include "server/ServerState.h"

#include <string>

// The server's counts in Prometheus' text exposition format (version 0.0.4): players, admissions
// and refusals by cause, removals by cause, messages and bytes, passes and their durations, kept
// output and uptime. Counters end in _total; durations are in seconds.
std::string MetricsText(const ServerState& state);
