#include "net/LocalSocket.h"

#include "SocketOps.h"

#include <winsock2.h>
// afunix.h needs the types of winsock2.h.
#include <afunix.h>
#include <sddl.h>
#include <windows.h>

#include <climits>
#include <cstring>

namespace {

SOCKET Native(sockets::SocketHandle sock) {
    return static_cast<SOCKET>(sock);
}

bool MakeAddress(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A socket of its own share of the Winsock layer, which CloseSocket gives back.
SOCKET NewSocket() {
    sockets::StartLayer();
    const SOCKET sock = WSASocketW(AF_UNIX, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (sock == INVALID_SOCKET) {
        sockets::StopLayer();
    }
    return sock;
}

void CloseSocket(SOCKET sock) {
    closesocket(sock);
    sockets::StopLayer();
}

bool SetNonBlocking(SOCKET sock) {
    u_long enabled = 1;
    return ioctlsocket(sock, FIONBIO, &enabled) == 0;
}

bool SomeoneListens(const sockaddr_un& address) {
    const SOCKET probe = NewSocket();
    if (probe == INVALID_SOCKET) {
        return false;
    }
    const bool listens =
        connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    CloseSocket(probe);
    return listens;
}

// A socket file is a reparse point; a plain file or folder at the path is somebody else's.
bool IsSocketFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Access for the file's owner and the system only, replacing what the folder would hand down.
bool RestrictToOwner(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:P(A;;FA;;;OW)(A;;FA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr)) {
        return false;
    }
    const bool set = SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor) != FALSE;
    LocalFree(descriptor);
    return set;
}

int ClampedLength(std::size_t length) {
    return length > INT_MAX ? INT_MAX : static_cast<int>(length);
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
    const SOCKET created = NewSocket();
    if (created == INVALID_SOCKET) {
        return 1;
    }
    if (connect(created, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        CloseSocket(created);
        return 1;
    }
    sock = static_cast<sockets::SocketHandle>(created);
    return 0;
}

LocalIo LocalStream::Receive(void* data, std::size_t capacity, int waitMs) {
    if (!IsOpen()) {
        return LocalIo{0, LocalIoStatus::Failed};
    }
    WSAPOLLFD watched{Native(sock), POLLRDNORM, 0};
    const int ready = WSAPoll(&watched, 1, waitMs);
    if (ready < 0) {
        return LocalIo{0, LocalIoStatus::Failed};
    }
    if (ready == 0) {
        return LocalIo{0, LocalIoStatus::WouldBlock};
    }
    const int received = recv(Native(sock), static_cast<char*>(data), ClampedLength(capacity), 0);
    if (received > 0) {
        return LocalIo{static_cast<std::size_t>(received), LocalIoStatus::Done};
    }
    if (received == 0) {
        return LocalIo{0, LocalIoStatus::Closed};
    }
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        return LocalIo{0, LocalIoStatus::WouldBlock};
    }
    return LocalIo{0, error == WSAECONNRESET || error == WSAECONNABORTED ? LocalIoStatus::Closed
                                                                         : LocalIoStatus::Failed};
}

LocalIo LocalStream::Send(const void* data, std::size_t length) {
    if (!IsOpen()) {
        return LocalIo{0, LocalIoStatus::Failed};
    }
    // A connecting end blocks; the few bytes of a command line go at once.
    const int sent = send(Native(sock), static_cast<const char*>(data), ClampedLength(length), 0);
    if (sent >= 0) {
        return LocalIo{static_cast<std::size_t>(sent), LocalIoStatus::Done};
    }
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
        return LocalIo{0, LocalIoStatus::WouldBlock};
    }
    return LocalIo{0, error == WSAECONNRESET || error == WSAECONNABORTED ? LocalIoStatus::Closed
                                                                         : LocalIoStatus::Failed};
}

void LocalStream::Close() {
    if (IsOpen()) {
        CloseSocket(Native(sock));
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
    const SOCKET created = NewSocket();
    if (created == INVALID_SOCKET) {
        failure = "socket: " + sockets::LastErrorText();
        return 1;
    }
    const auto bindAt = [&] {
        return bind(created, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    };
    bool bound = bindAt();
    if (!bound && WSAGetLastError() == WSAEADDRINUSE) {
        if (SomeoneListens(address)) {
            failure = "a running server already listens at '" + socketPath + "'";
        } else if (!IsSocketFile(socketPath)) {
            failure = "'" + socketPath + "' exists and is not a socket";
        } else {
            // Left behind by a server that did not stop cleanly.
            DeleteFileA(socketPath.c_str());
            bound = bindAt();
        }
    }
    if (!bound || !RestrictToOwner(socketPath) || listen(created, 8) != 0 ||
        !SetNonBlocking(created)) {
        if (failure.empty()) {
            failure = "cannot listen at '" + socketPath + "': " + sockets::LastErrorText();
        }
        if (bound) {
            DeleteFileA(socketPath.c_str());
        }
        CloseSocket(created);
        return 1;
    }
    sock = static_cast<sockets::SocketHandle>(created);
    path = socketPath;
    return 0;
}

std::unique_ptr<LocalStream> LocalListener::Accept() {
    if (!IsOpen()) {
        return nullptr;
    }
    const SOCKET accepted = accept(Native(sock), nullptr, nullptr);
    if (accepted == INVALID_SOCKET) {
        return nullptr;
    }
    // The accepted socket holds a share of the layer of its own.
    sockets::StartLayer();
    if (!SetNonBlocking(accepted)) {
        CloseSocket(accepted);
        return nullptr;
    }
    return std::make_unique<LocalStream>(static_cast<sockets::SocketHandle>(accepted));
}

void LocalListener::Close() {
    if (IsOpen()) {
        CloseSocket(Native(sock));
        sock = sockets::INVALID_SOCKET_HANDLE;
        DeleteFileA(path.c_str());
        path.clear();
    }
}
