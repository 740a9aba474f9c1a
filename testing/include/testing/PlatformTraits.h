#pragma once

#include <string>

// What the platform's sockets do differently, for the tests whose expectations follow it.

// Whether accept hands over a connection that its client reset while it waited in the listen
// queue. Linux does; Winsock drops such a connection and reports WSAECONNRESET to accept.
bool AcceptTakesResetConnections();

// Whether a receive buffer made small on a connected socket can be made large again, so that
// the peer's window opens at once. Linux does so; wine, which runs the Windows build's tests,
// keeps the small window, and the peer sends only by zero-window probes.
bool ReceiveWindowWidens();

// Whether a read on a connection that its peer reset reports the reset. Linux's and Windows'
// do; under wine, which runs the Windows build's tests, the peer's reset reads as an orderly
// end of stream and shows only to a write.
bool ReadsShowResets();

// Whether a readiness collection tells a member that has only data from one whose peer may be
// gone. Linux's epoll does; on Windows every ready member gets the full liveness test.
bool ReadinessTellsOnlyData();

// A path for a local socket of this name, of the test's own: a file in the temporary folder on
// Linux, a named pipe on Windows.
std::string LocalSocketPath(const std::string& name);

// Whether a local socket is a file of the file system, which stays behind when its server is
// killed and which another file can stand in the place of. Windows' named pipes are not.
bool LocalSocketIsAFile();

// Whether this machine has an IPv6 loopback (::1) that a socket can bind, probed with the
// platform's own calls rather than the socket library's, so that a fault in the library's IPv6
// support fails its tests instead of skipping them.
bool HasIpv6Loopback();
// Whether an IPv6 socket may take IPv4 connections too (dual stack).
bool AllowsDualStack();

// The reasons the IPv6 tests give when they skip.
inline constexpr const char* NO_IPV6_LOOPBACK = "this machine has no IPv6 loopback address (::1)";
inline constexpr const char* NO_DUAL_STACK = "this system does not let IPv6 sockets take IPv4";
