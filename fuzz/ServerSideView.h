#pragma once

#include <cstdint>

// The server's end of one loopback connection as the kernel reports it, found by its ports
// through the socket diagnostics interface. It sees connections the server has not accepted
// yet, which no descriptor of the process names.
struct ServerSide {
    enum class State { Missing, Established, PeerFinished, Other };
    State state = State::Missing;
    // Bytes received and not read by the server, plus one once the peer's FIN has arrived and
    // not been read.
    std::uint32_t unread = 0;
    // Bytes the server has written to the connection: acknowledged by the client or still in the
    // server end's send queue.
    std::uint64_t written = 0;
};

class ServerSideView {
public:
    ServerSideView();
    ~ServerSideView();
    ServerSideView(const ServerSideView&) = delete;
    ServerSideView& operator=(const ServerSideView&) = delete;

    bool IsOpen() const { return fd >= 0; }
    // A connection that was reset or closed reads as Missing. The kernel reads the send queue
    // and the acknowledged count at two moments, so an acknowledgement arriving between them
    // counts its bytes twice in `written`; the other fields are read at one moment.
    ServerSide Look(std::uint16_t serverPort, std::uint16_t clientPort);
    // A look repeated until two readings in a row agree, so that `written` can be trusted.
    ServerSide SteadyLook(std::uint16_t serverPort, std::uint16_t clientPort);

private:
    int fd = -1;
    std::uint32_t sequence = 0;
};
