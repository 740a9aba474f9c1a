#pragma once

#include "net/ByteBuffer.h"
#include "net/Ipv6Text.h"
#include "net/SocketAddress.h"
#include "net/SocketHandle.h"
#include "net/StreamFlow.h"
#include "sync/Mutex.h"
#include "sync/Thread.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

inline constexpr int NS_TCP = 0x01;
inline constexpr int NS_UDP = 0x02;
inline constexpr int NS_THREADED = 0x04;
inline constexpr int NS_SERVER = 0x08;
inline constexpr int NS_BLOCKING = 0x10;
inline constexpr int NS_MULTICAST = 0x20;
// With NS_TCP: the host is an IPv6 literal. A listener with a null host listens on every
// interface, for IPv4 too where the system allows a dual-stack socket.
inline constexpr int NS_IPV6 = 0x40;

inline constexpr int LISTEN_BACKLOG = 16;
// The most bytes asked for in one receive call.
inline constexpr std::size_t RECEIVE_CHUNK = 1024;
// The most bytes ReceiveInPlace takes from an endpoint without a receive limit.
inline constexpr std::size_t RECEIVE_AREA = 64u * 1024u;
// The least spare room ReceiveInPlace reads into: a few whole frames.
inline constexpr std::size_t IN_PLACE_ROOM = 1024;
// The pause between two tries of a waiting ReadUntil.
inline constexpr unsigned READ_RETRY_MS = 50;

// One IPv4 endpoint (or, with NS_IPV6, an IPv6 TCP client or listener): a TCP client, a TCP
// listener, a UDP endpoint or a multicast UDP endpoint, with a receive buffer that collects
// incoming bytes until its owner reads them and, with NS_THREADED, a receiver thread that fills it
// in the background.
//
// Operations report success as 0 and failure as 1.
class NetSocket {
public:
    NetSocket();
    // Takes over a socket that is already connected; the endpoint is open at once.
    NetSocket(int acceptedFlags, sockets::SocketHandle accepted);
    ~NetSocket();
    NetSocket(const NetSocket&) = delete;
    NetSocket& operator=(const NetSocket&) = delete;

    // A host text with a letter in it is looked up by name (not found: 127.0.0.1); any other
    // text is converted as a dotted address (rejected: 255.255.255.255); null is any address.
    static SocketAddress MakeAddress(const char* host, std::uint16_t port);
    // False for a host text that MakeAddress would look up by name and not find; true for any
    // other text.
    static bool HostIsKnown(const char* host);

    // `port` is the local port of UDP endpoints and listeners and the remote port of clients;
    // `host` is the server of a client, the group of a multicast endpoint and the local address
    // of a listener (null: every interface).
    int Open(int flags, std::uint16_t port, const char* host);
    // Why the latest Open of a listener failed: the call that failed and the system's reason.
    const std::string& OpenFailure() const { return openFailure; }
    // A new heap endpoint for one pending connection, or null; the caller owns it.
    NetSocket* Accept();
    int Close();
    // False once the peer has closed or reset the connection, or sending to it has failed.
    bool IsConnected();
    // True exactly when the socket reports that its peer has gone.
    bool IsDisconnected();

    bool IsOpen() const { return sock != sockets::INVALID_SOCKET_HANDLE; }
    // The platform socket, for a wait on it beside others.
    sockets::SocketHandle Handle() const { return sock; }
    bool HasFailed() const { return flow.HasFailed(); }
    // True once a send found the kept output full and shut the connection down.
    bool FellBehind() const { return flow.FellBehind(); }
    int Flags() const { return flags; }
    // Starts loading into the processor's cache what a receive and a relayed write use, and
    // returns without waiting for it; a caller that knows it will use this endpoint soon hides
    // the wait behind other work.
    void FetchAhead() const {
        __builtin_prefetch(&flags);
        __builtin_prefetch(&flow);
        __builtin_prefetch(&peerClosed);
    }
    // The local port the endpoint is bound to, or 0.
    std::uint16_t LocalPort() const;

    // Addresses as dotted-decimal text (a peer of an IPv6 endpoint in IPv6's own text, or as
    // IPv4 when it is IPv4-mapped); empty when there is none.
    static std::string LocalHostAddress();
    static std::string AddressText(const SocketAddress& address);
    std::string PeerAddress();

    // Sends `len` bytes: on a stream endpoint, bytes the socket cannot take at once are kept and
    // written before any newer ones. 0 when the bytes were written or kept; 1 when the endpoint
    // is not open, is a listener, the connection has failed or the kept output would pass
    // KEPT_OUTPUT_LIMIT (the connection is then shut down). `port` and `host` address datagrams.
    int Send(const void* data, int len, std::uint16_t port, const char* host);
    void SendDelimited(const void* data, int len, const char* delimiter, std::uint16_t port,
                       const char* host);
    // Adds `len` bytes to the kept output of a stream endpoint without writing them, for
    // FlushKeptOutput to write later behind what is kept already. When they would take the kept
    // output past KEPT_OUTPUT_LIMIT, what the socket takes now is written first. 1 when the
    // endpoint is not open, is a listener or a datagram endpoint, the connection has failed or
    // the kept output would still pass the limit (the connection is then shut down).
    int KeepOutput(const void* data, int len);
    // Writes as much kept output as the socket takes now. 1 when the connection has failed.
    int FlushKeptOutput();
    // The bytes of kept output.
    std::size_t KeptOutput() const { return flow.KeptOutput().Size(); }
    // The most bytes one send call is given; 0, the default, is no limit. Tests set it so that
    // the socket takes a write in several parts.
    void LimitEachWrite(std::size_t bytes) { flow.LimitEachWrite(bytes); }
    // Sends small writes at once instead of coalescing them.
    void EnableNoDelay();
    // The most unread bytes that Receive keeps in the buffer; the rest waits in the socket. 0,
    // the default, is no limit. Receiver threads are not limited.
    void SetReceiveLimit(std::size_t bytes) { flow.SetReceiveLimit(bytes); }

    // Takes everything the socket holds, up to the receive limit, into the buffer: on a stream
    // it asks the socket how many bytes are there and reads them in RECEIVE_CHUNK parts, and
    // with `wait` a blocking socket first waits for data. An endpoint with a receiver thread
    // takes nothing here: its thread does.
    int Receive(bool wait);
    // For a stream endpoint that has no receiver thread: takes what the socket holds, up to the
    // receive limit (or RECEIVE_AREA without one), without waiting and without asking for the
    // count first. One receive straight into the buffer's spare room (at least IN_PLACE_ROOM);
    // only when that fills it does a second receive take the rest through an area on the stack.
    // Other endpoints take what Receive(false) takes. 1 on the same failures as Receive.
    int ReceiveInPlace();
    // The buffered bytes in place, valid until the next receive, read or discard. Empty on an
    // endpoint with a receiver thread, whose buffer may move at any moment: it copies with
    // Peek or PeekUpTo instead.
    std::span<const std::uint8_t> UnreadBytes() const;
    // Takes exactly `n` bytes, or with `n` 0 every buffered byte; all or nothing.
    int Read(void* dst, std::uint32_t n);
    // Copies the first `n` buffered bytes without taking them; all or nothing.
    int Peek(void* dst, std::uint32_t n);
    // Copies up to `capacity` bytes from the front of the buffer without taking them or going to
    // the socket; returns how many it copied.
    std::uint32_t PeekUpTo(void* dst, std::uint32_t capacity);
    // Drops up to `n` bytes from the front of the buffer.
    void Discard(std::uint32_t n);
    // Takes the text in front of the first `delimiter` into `dst` with a NUL and drops the
    // delimiter. Fails, taking nothing and leaving `dst` empty, when the delimiter is not
    // buffered or the text and its NUL do not fit in `capacity`. With NS_BLOCKING it waits for
    // the delimiter until the connection is gone.
    int ReadUntil(char* dst, std::size_t capacity, const char* delimiter);
    std::uint32_t BufferedBytes();

    // The body of the receiver thread.
    static void ReceiverLoop(void* endpoint);

private:
    // Watches the socket for input.
    friend class ReadinessSet;

    // Holds bufferLock for the life of a scope when a receiver thread shares the buffer. Without
    // one only the owner's thread uses the buffer, and no lock is taken.
    class BufferGuard {
    public:
        explicit BufferGuard(NetSocket& endpoint);
        ~BufferGuard();
        BufferGuard(const BufferGuard&) = delete;
        BufferGuard& operator=(const BufferGuard&) = delete;

    private:
        Mutex* held;
    };

    // Open with NS_IPV6: a TCP client of, or a listener on, an IPv6 literal.
    int OpenIpv6(std::uint16_t port, const char* host);
    int ReceiveStream(bool wait);
    int ReceiveDatagrams(bool wait);
    // ReceiveInPlace's second receive: at most `most` bytes through the stack area.
    int ReceiveIntoArea(std::size_t most);
    // Room for input under the receive limit, at most `largest` bytes.
    std::size_t ReceiveRoom(std::size_t largest) const {
        return flow.ReceiveRoom(buffer.Size(), largest);
    }
    // Writes from the front of `data` until the socket would block; false on a failed send.
    bool WriteSome(const std::uint8_t* data, std::size_t length, std::size_t& written);
    // Keeps `length` more bytes of output, or fails the connection as fallen behind when the
    // kept output would pass KEPT_OUTPUT_LIMIT; 0 when kept.
    int Keep(const void* data, std::size_t length);
    void FailConnection();
    // Notes which call of Open failed and why; returns Open's failure status.
    int FailOpen(const char* call);
    // Writes `senderAddress`; the caller holds a BufferGuard.
    void SetSenderAddress(const SocketAddress& sender);
    // Writes `acceptedPeer`.
    void SetAcceptedPeer(const std::string& peer);
    void StartReceiver();
    void StopReceiver();

    // What a receive and a relayed write use come first, so that they share few cache lines.
    int flags = 0;
    sockets::SocketHandle sock = sockets::INVALID_SOCKET_HANDLE;
    ByteBuffer buffer;
    StreamFlow flow;
    std::atomic<bool> peerClosed{false};

    // The sender of the latest datagram. Open and Close leave it as it is.
    char senderAddress[ADDRESS_TEXT_CAPACITY] = {};
    // The peer an accepted stream was accepted from, until the endpoint is opened again.
    char acceptedPeer[ADDRESS_TEXT_CAPACITY] = {};
    Thread receiver;
    Mutex bufferLock;
    std::uint32_t membershipGroup = 0;
    std::uint32_t membershipInterface = 0;
    std::string openFailure;
    sockets::WakeChannel receiverWake;
};
