#include "net/LocalSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

int Fd(sockets::SocketHandle sock) {
    return static_cast<int>(sock);
}

// False when the path does not fit the address.
bool MakeAddress(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int NewSocket() {
    return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

bool ConnectTo(int fd, const sockaddr_un& address) {
    while (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// True when a process listens at the address now.
bool SomeoneListens(const sockaddr_un& address) {
    const int probe = NewSocket();
    if (probe < 0) {
        return false;
    }
    const bool listens = ConnectTo(probe, address);
    close(probe);
    return listens;
}

bool IsSocketFile(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
}

// Binds with no permission for the group or others from the start, so that there is no moment
// in which they could connect.
bool BindOwnerOnly(int fd, const sockaddr_un& address) {
    const mode_t previous = umask(0177);
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    const int error = errno;
    umask(previous);
    errno = error;
    if (!bound) {
        return false;
    }
    if (chmod(address.sun_path, 0600) != 0) {
        const int chmodError = errno;
        unlink(address.sun_path);
        errno = chmodError;
        return false;
    }
    return true;
}

}  // namespace

LocalStream::~LocalStream() {
    Close();
}

int LocalStream::Connect(const std::string& path) {
    Close();
    sockaddr_un address;
    if (!MakeAddress(path, address)) {
        return 1;
    }
    const int fd = NewSocket();
    if (fd < 0) {
        return 1;
    }
    if (!ConnectTo(fd, address)) {
        close(fd);
        return 1;
    }
    sock = fd;
    return 0;
}

LocalIo LocalStream::Receive(void* data, std::size_t capacity, int waitMs) {
    if (!IsOpen()) {
        return LocalIo{0, LocalIoStatus::Failed};
    }
    pollfd watched{Fd(sock), POLLIN, 0};
    int ready = 0;
    while ((ready = poll(&watched, 1, waitMs)) < 0 && errno == EINTR) {
    }
    if (ready < 0) {
        return LocalIo{0, LocalIoStatus::Failed};
    }
    if (ready == 0) {
        return LocalIo{0, LocalIoStatus::WouldBlock};
    }
    ssize_t received = 0;
    while ((received = recv(Fd(sock), data, capacity, MSG_DONTWAIT)) < 0 && errno == EINTR) {
    }
    if (received > 0) {
        return LocalIo{static_cast<std::size_t>(received), LocalIoStatus::Done};
    }
    if (received == 0) {
        return LocalIo{0, LocalIoStatus::Closed};
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return LocalIo{0, LocalIoStatus::WouldBlock};
    }
    return LocalIo{0, errno == ECONNRESET ? LocalIoStatus::Closed : LocalIoStatus::Failed};
}

LocalIo LocalStream::Send(const void* data, std::size_t length) {
    if (!IsOpen()) {
        return LocalIo{0, LocalIoStatus::Failed};
    }
    ssize_t sent = 0;
    while ((sent = send(Fd(sock), data, length, MSG_DONTWAIT | MSG_NOSIGNAL)) < 0 &&
           errno == EINTR) {
    }
    if (sent >= 0) {
        return LocalIo{static_cast<std::size_t>(sent), LocalIoStatus::Done};
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return LocalIo{0, LocalIoStatus::WouldBlock};
    }
    return LocalIo{
        0, errno == EPIPE || errno == ECONNRESET ? LocalIoStatus::Closed : LocalIoStatus::Failed};
}

void LocalStream::Close() {
    if (IsOpen()) {
        close(Fd(sock));
        sock = sockets::INVALID_SOCKET_HANDLE;
    }
}

LocalListener::~LocalListener() {
    Close();
}

int LocalListener::Listen(const std::string& socketPath) {
    Close();
    failure.clear();
    sockaddr_un address;
    if (!MakeAddress(socketPath, address)) {
        failure = "the path '" + socketPath + "' is empty or too long for a socket";
        return 1;
    }
    const int fd = NewSocket();
    if (fd < 0) {
        failure = std::string("socket: ") + std::strerror(errno);
        return 1;
    }
    bool bound = BindOwnerOnly(fd, address);
    if (!bound && errno == EADDRINUSE) {
        if (!IsSocketFile(socketPath)) {
            failure = "'" + socketPath + "' exists and is not a socket";
        } else if (SomeoneListens(address)) {
            failure = "a running server already listens at '" + socketPath + "'";
        } else {
            // Left behind by a server that did not stop cleanly.
            unlink(socketPath.c_str());
            bound = BindOwnerOnly(fd, address);
        }
    }
    if (!bound || listen(fd, 8) != 0 || fcntl(fd, F_SETFL, O_NONBLOCK) != 0) {
        if (failure.empty()) {
            failure = "cannot listen at '" + socketPath + "': " + std::strerror(errno);
        }
        // The file is this listener's own once bound; nothing is to be left of it.
        if (bound) {
            unlink(socketPath.c_str());
        }
        close(fd);
        return 1;
    }
    sock = fd;
    path = socketPath;
    return 0;
}

std::vector<sockets::SocketHandle> LocalListener::Handles() const {
    if (!IsOpen()) {
        return {};
    }
    return {sock};
}

std::unique_ptr<LocalStream> LocalListener::Accept() {
    if (!IsOpen()) {
        return nullptr;
    }
    int accepted = -1;
    while ((accepted = accept4(Fd(sock), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) < 0 &&
           errno == EINTR) {
    }
    if (accepted < 0) {
        return nullptr;
    }
    return std::make_unique<LocalStream>(accepted);
}

void LocalListener::Close() {
    if (IsOpen()) {
        close(Fd(sock));
        sock = sockets::INVALID_SOCKET_HANDLE;
        unlink(path.c_str());
        path.clear();
    }
}
