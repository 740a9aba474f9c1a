#pragma once

#include "net/SocketHandle.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// What one receive or send on a local connection did.
enum class LocalIoStatus { Done, WouldBlock, Closed, Failed };
struct LocalIo {
    std::size_t bytes = 0;
    LocalIoStatus status = LocalIoStatus::Done;
};

// One end of a connection over a local stream socket (a Unix domain socket), which only
// processes of this machine reach. Accepted ends never block; Connect's end waits only where
// its calls say so. Closed by the destructor.
class LocalStream {
public:
    LocalStream() = default;
    explicit LocalStream(sockets::SocketHandle accepted) : sock(accepted) {}
    ~LocalStream();
    LocalStream(const LocalStream&) = delete;
    LocalStream& operator=(const LocalStream&) = delete;

    // Connects to the socket at `path`. 1 when nothing listens there.
    int Connect(const std::string& path);
    bool IsOpen() const { return sock != sockets::INVALID_SOCKET_HANDLE; }
    sockets::SocketHandle Handle() const { return sock; }
    // Takes up to `capacity` bytes, waiting at most `waitMs` for the first (0: not at all).
    // Closed once the peer has closed its end and everything it sent was taken.
    LocalIo Receive(void* data, std::size_t capacity, int waitMs);
    // Writes what the socket takes now, without waiting.
    LocalIo Send(const void* data, std::size_t length);
    void Close();

private:
    sockets::SocketHandle sock = sockets::INVALID_SOCKET_HANDLE;
};

// A listening local stream socket at a path of the file system, readable and writable by the
// owner only. The path is removed when the listener closes.
class LocalListener {
public:
    LocalListener() = default;
    ~LocalListener();
    LocalListener(const LocalListener&) = delete;
    LocalListener& operator=(const LocalListener&) = delete;

    // Listens at `path`. A socket file there that no process listens on any more is replaced;
    // one that a live process listens on, or a file that is not a socket, is left alone and the
    // call fails. 0 on success; on failure 1 and Failure() says why.
    int Listen(const std::string& path);
    const std::string& Failure() const { return failure; }
    bool IsOpen() const { return sock != sockets::INVALID_SOCKET_HANDLE; }
    sockets::SocketHandle Handle() const { return sock; }
    // The handles to wait on for a new connection: Handle() and, where each end takes one
    // client, the other waiting ends.
    std::vector<sockets::SocketHandle> Handles() const;
    // One waiting connection, or null when none waits; never waits.
    std::unique_ptr<LocalStream> Accept();
    // Stops listening and removes the path.
    void Close();

private:
    sockets::SocketHandle sock = sockets::INVALID_SOCKET_HANDLE;
    // More ends that wait for a client, where each end takes one client (Windows' named pipes);
    // empty elsewhere.
    std::vector<sockets::SocketHandle> waitingEnds;
    std::string path;
    std::string failure;
};
