#pragma once

#include "net/NetSocket.h"
#include "protocol/Frame.h"

#include <cstdint>
#include <memory>
#include <string>

// Connects one player to the server on 127.0.0.1 `port` and waits up to `timeoutMs` for its
// greeting. Returns the endpoint with `id` set, or null with the reason in `error`.
std::unique_ptr<NetSocket> JoinServer(std::uint16_t port, unsigned timeoutMs, PlayerId& id,
                                      std::string& error);

// Connects one player to a server that greets nobody on 127.0.0.1 `port`. Returns the endpoint,
// or null with the reason in `error`.
std::unique_ptr<NetSocket> ConnectUngreeted(std::uint16_t port, std::string& error);
