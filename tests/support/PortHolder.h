#pragma once

#include "net/RawListener.h"

#include <cstdint>

// A listening socket on every local interface, bound to a port the system chose: while it
// lives, nobody else can listen on that port.
class PortHolder {
public:
    PortHolder();

    // The port held, or 0 when the socket could not be set up.
    std::uint16_t Port() const { return port; }

private:
    RawListener listener;
    std::uint16_t port = 0;
};
