#pragma once

// The socket layer as small free functions, so that nothing outside net/ includes a platform
// header. Each platform provides these in a file of its own (posix/ and windows/SocketOps.cpp).
// Private to net/: only its own sources include it.

#include "net/Ipv6Text.h"
#include "net/SocketAddress.h"
#include "net/SocketHandle.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace sockets {

// Start-up and clean-up of the layer, once per endpoint.
void StartLayer();
void StopLayer();

// New sockets are not inherited by child processes.
SocketHandle CreateStream();
SocketHandle CreateStreamIpv6();
SocketHandle CreateDatagram();
bool Close(SocketHandle sock);
// Wakes anything waiting on the socket and refuses further sends and receives.
void Shutdown(SocketHandle sock);

bool SetNonBlocking(SocketHandle sock);
// Sends the peer an end of stream and goes on receiving.
bool ShutdownSending(SocketHandle sock);
// Makes Close end the connection with a reset instead of an orderly close.
bool SetResetOnClose(SocketHandle sock);
// The socket's receive buffer, which sets the window it announces; set before connecting.
bool SetReceiveBufferSize(SocketHandle sock, int bytes);
// The most bytes in one outgoing segment; false where the system sets none (Windows).
bool SetMaxSegmentSize(SocketHandle sock, int bytes);
// Lets a listener bind its port again at once while old connections linger in TIME_WAIT, and
// never lets another socket take over a port that one listens on.
bool SetListenerPortOptions(SocketHandle sock);
bool SetNoDelay(SocketHandle sock);
// Lets an IPv6 socket take IPv4 connections too, as IPv4-mapped addresses; false where the
// system does not allow it.
bool SetDualStack(SocketHandle sock);
bool SetMulticastLoop(SocketHandle sock, int value);
bool JoinMulticastGroup(SocketHandle sock, std::uint32_t group, std::uint32_t interfaceAddress);
bool LeaveMulticastGroup(SocketHandle sock, std::uint32_t group, std::uint32_t interfaceAddress);

bool Bind(SocketHandle sock, const SocketAddress& address);
bool BindIpv6(SocketHandle sock, const Ipv6Bytes& address, std::uint16_t port);
bool Listen(SocketHandle sock, int backlog);
// Waits until the connection is made or refused.
bool Connect(SocketHandle sock, const SocketAddress& address);
bool ConnectIpv6(SocketHandle sock, const Ipv6Bytes& address, std::uint16_t port);
// A connect that does not wait, on a non-blocking socket, and its outcome learned later.
enum class ConnectProgress { Connected, Pending, Failed };
ConnectProgress StartConnect(SocketHandle sock, const SocketAddress& address);
ConnectProgress StartConnectIpv6(SocketHandle sock, const Ipv6Bytes& address, std::uint16_t port);
// Waits up to `timeoutMilliseconds` (-1: without a limit, 0: only looks) for a started connect
// to end. Call it only until it reports Connected or Failed: the socket's error is taken once.
ConnectProgress FinishConnect(SocketHandle sock, int timeoutMilliseconds);
// Takes one pending connection and the text of its peer's address in the peer's own family
// (IPv4-mapped peers as IPv4); the new socket is non-blocking and not inherited.
SocketHandle Accept(SocketHandle listener, std::string& peer);

enum class Readiness { NotReadable, Readable, Failed };
Readiness PollReadable(SocketHandle sock, int timeoutMilliseconds);

// True when the socket takes bytes now or within the time; a failed connection counts as
// writable, since the send that follows reports it.
bool PollWritable(SocketHandle sock, int timeoutMilliseconds);

enum class PeekResult { Data, OrderlyClose, ConnectionGone, OtherError };
PeekResult PeekOneByte(SocketHandle sock);

enum class IoError { None, WouldBlock, ConnectionGone, TooLarge, Other };
struct IoResult {
    std::size_t bytes = 0;
    IoError error = IoError::None;
};
// Never raises a broken-pipe signal.
IoResult SendSome(SocketHandle sock, const void* data, std::size_t length);
IoResult SendDatagram(SocketHandle sock, const void* data, std::size_t length,
                      const SocketAddress& destination);
// Without `wait`, a socket with nothing pending reports WouldBlock. A closed connection reads
// as 0 bytes.
IoResult ReceiveStream(SocketHandle sock, void* data, std::size_t capacity, bool wait);
// One datagram; one longer than `capacity` is consumed and reported as TooLarge.
IoResult ReceiveDatagram(SocketHandle sock, void* data, std::size_t capacity, SocketAddress& from,
                         bool wait);
// ReceiveStream without waiting that leaves the bytes in the socket; unlike PeekOneByte, it
// shows bytes that came before a reset.
IoResult PeekStream(SocketHandle sock, void* data, std::size_t capacity);
bool PendingByteCount(SocketHandle sock, std::uint32_t& count);

// The peer's address as text in its own family (IPv4-mapped peers as IPv4).
bool PeerAddressTextOf(SocketHandle sock, std::string& text);
// IPv4 sockets only; the Windows wake channel's loopback pair needs it.
bool LocalAddressOf(SocketHandle sock, SocketAddress& address);
// The local port of a socket of either family.
bool LocalPortOf(SocketHandle sock, std::uint16_t& port);

std::uint16_t InetFamily();
// Dotted-decimal conversion; a text it rejects gives the all-ones address.
std::uint32_t ParseDottedAddress(const char* text);
bool LookupHostByName(const char* name, std::uint32_t& address);
bool LocalHostName(char* name, std::size_t capacity);
// The system's description of the error of the socket call that failed last on this thread.
std::string LastErrorText();

// Byte order and address text need no platform call (AddressText.cpp).
std::uint16_t HostToNetwork16(std::uint16_t value);
std::uint16_t NetworkToHost16(std::uint16_t value);
// The dotted-decimal text of an address in network byte order.
std::string AddressToText(std::uint32_t address);

bool OpenWakeChannel(WakeChannel& channel);
void SignalWakeChannel(const WakeChannel& channel);
// Reads every signal the channel holds, without waiting.
void DrainWakeChannel(const WakeChannel& channel);
void CloseWakeChannel(WakeChannel& channel);

enum class WaitResult { Readable, Woken, Failed };
// Waits without a time limit until the socket is readable or the channel is signalled.
WaitResult WaitReadableOrWoken(SocketHandle sock, const WakeChannel& channel);

}  // namespace sockets
