#pragma once

#include "testing/LoopbackClient.h"
#include "tests/support/ServerProcess.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The banner and the listening line of a server started with --port `portText`.
std::string CommandLineTranscript(const std::string& portText);

// Starts `vor-server ARGUMENTS --port P` for a port P that it can listen on, and checks that
// the console is the banner and the listening line; null when it is not.
std::unique_ptr<ServerProcess> StartOnPort(const std::vector<std::string>& arguments,
                                           std::uint16_t& port);

// Connects a client to `server` on `port` and checks, failing the test otherwise, that it is
// greeted as `expectedId` and that the console announces it.
std::unique_ptr<LoopbackClient> JoinAs(ServerProcess& server, std::uint16_t port,
                                       std::uint16_t expectedId);

// Types `command` on the server's console and returns what it prints from then on, once that
// holds `lines` line ends or the wait for them has run out.
std::string AnswerTo(ServerProcess& server, const std::string& command, std::size_t lines);
