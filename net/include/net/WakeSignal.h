#pragma once

#include "net/SocketHandle.h"

// Ends a wait on a readiness set that holds it: another thread, or a signal handler, raises it,
// and the waiting thread clears it once it has woken.
class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    // False when the platform refused the channel; raising it then does nothing.
    bool IsOpen() const { return channel.readEnd != sockets::INVALID_SOCKET_HANDLE; }
    // Makes the signal ready until the next Clear. One write and nothing else, so that a signal
    // handler or any thread may call it.
    void Raise() const;
    // Takes back every raise so far.
    void Clear() const;

private:
    friend class ReadinessSet;
    sockets::WakeChannel channel;
};
