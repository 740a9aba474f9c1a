#pragma once

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
