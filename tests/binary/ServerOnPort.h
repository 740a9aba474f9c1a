#pragma once

#include "tests/support/ServerProcess.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The listening line of a server given `portText`, after the banner.
std::string CommandLineTranscript(const std::string& portText);

// A port chosen at random below the range the system hands out to clients, so that it is
// seldom taken; a test that finds it taken chooses again.
std::uint16_t RandomTestPort();

// Starts `vor-server --port P` with `arguments` before it, on a port chosen at random; while
// the server reports that it cannot listen there, starts it again on another. Null when no
// listening line appears.
std::unique_ptr<ServerProcess> StartOnPort(const std::vector<std::string>& arguments,
                                           std::uint16_t& port);
