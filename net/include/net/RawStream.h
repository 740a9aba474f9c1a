#pragma once

#include "net/Ipv6Text.h"
#include "net/SocketAddress.h"
#include "net/SocketHandle.h"

#include <cstddef>
#include <cstdint>

// How one write or read on a stream ended.
enum class StreamOutcome {
    // `bytes` were moved (for a write of nothing, none).
    Moved,
    // The socket could take or give nothing now.
    WouldBlock,
    // The peer closed its sending side in order: nothing more will arrive.
    Ended,
    // The peer reset the connection, or it is otherwise gone.
    Reset,
    Failed,
};

struct StreamTransfer {
    std::size_t bytes = 0;
    StreamOutcome outcome = StreamOutcome::Failed;
};

// One write and one read on a connected stream socket that something else owns, without
// waiting, as plain system calls: for measurements of the platform's floor under the relay.
StreamTransfer WriteSomeOn(sockets::SocketHandle sock, const void* data, std::size_t length);
StreamTransfer ReadSomeOn(sockets::SocketHandle sock, void* data, std::size_t capacity);

// What a stream is set up with before it connects, since the handshake announces the window.
struct RawStreamSetup {
    // The receive buffer in bytes; 0 leaves the system's.
    int receiveWindow = 0;
    // The largest outgoing segment in bytes, where the system lets it be set; 0 leaves it.
    int maxSegment = 0;
    bool noDelay = false;
};

// One TCP connection whose socket never waits unless a call says it does: connecting, writing
// and reading return at once, and each wait lasts as long as its caller says. It writes exactly the
// bytes it is given and can half-close or reset at will, as the test support and the load
// tool's misbehaving players need.
class RawStream {
public:
    enum class Connection { Closed, Connecting, Open, Failed };

    RawStream();
    ~RawStream();
    RawStream(const RawStream&) = delete;
    RawStream& operator=(const RawStream&) = delete;

    // Starts connecting to `address`, ending any connection it had with a reset. False, with the
    // stream closed, when no socket could be set up or the connect failed at once.
    bool StartConnect(const SocketAddress& address, const RawStreamSetup& setup = {});
    bool StartConnectIpv6(const Ipv6Bytes& address, std::uint16_t port,
                          const RawStreamSetup& setup = {});
    // Where the connection stands, after waiting up to `waitMs` for a started connect to end
    // (0 only looks; -1 waits as long as the kernel does).
    Connection AwaitConnect(int waitMs = 0);
    bool IsOpen() const { return sock != sockets::INVALID_SOCKET_HANDLE; }

    StreamTransfer WriteSome(const void* data, std::size_t length);
    StreamTransfer ReadSome(void* data, std::size_t capacity);
    // True when, within `waitMs`, there is something to read or the connection has ended.
    bool WaitReadable(int waitMs);
    bool WaitWritable(int waitMs);
    // True when a byte is waiting to be read; an ended connection has none.
    bool HasByteToRead();

    // Sends the peer an end of stream; reading goes on.
    bool ShutdownWriting();
    // Closes with a reset instead of an orderly close, so that the peer sees a reset and no
    // connection waits out TIME_WAIT.
    void Reset();
    void Close();

    bool SetReceiveWindow(int bytes);
    bool SetNoDelay();
    // The stream's own port, which names the connection on the other side; 0 when closed.
    std::uint16_t LocalPort() const;

private:
    friend class RawListener;

    // Takes over a connected socket.
    void Adopt(sockets::SocketHandle accepted);
    // A new non-blocking socket set up with `setup`; false when any part of that failed.
    bool Create(bool ipv6, const RawStreamSetup& setup);
    // Closes the socket of a connect that failed at once; false then.
    bool KeepUnlessFailed();

    sockets::SocketHandle sock = sockets::INVALID_SOCKET_HANDLE;
    Connection connection = Connection::Closed;
};
