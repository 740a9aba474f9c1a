#include "net/LocalSocket.h"

#include <windows.h>
// sddl.h needs the types of windows.h.
#include <sddl.h>

#include <climits>

// On Windows the local socket is a named pipe (\\.\pipe\NAME): wine, which runs the Windows
// build's tests, has no Unix domain sockets. A pipe vanishes with its last handle, so no stale
// path is ever left behind. Every handle is in "no wait" mode, so that the server's calls
// return at once.

namespace {

constexpr std::string_view PIPE_PREFIX = R"(\\.\pipe\)";
constexpr DWORD PIPE_BUFFER = 64 * 1024;
// Ends that wait for clients at once, as a listen queue holds them.
constexpr std::size_t WAITING_ENDS = 8;
// How long a client waits for a free end when every one is taken.
constexpr DWORD BUSY_WAIT_MS = 2000;

HANDLE Native(sockets::SocketHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

sockets::SocketHandle FromNative(HANDLE handle) {
    return reinterpret_cast<sockets::SocketHandle>(handle);
}

DWORD ClampedLength(std::size_t length) {
    return length > INT_MAX ? INT_MAX : static_cast<DWORD>(length);
}

// A new server end of the pipe, readable and writable by its owner and the system only; the
// first one fails when another process serves the pipe already.
HANDLE NewInstance(const std::string& path, bool first) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:P(A;;GA;;;OW)(A;;GA;;;SY)", SDDL_REVISION_1, &descriptor, nullptr)) {
        return INVALID_HANDLE_VALUE;
    }
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    const HANDLE pipe = CreateNamedPipeA(
        path.c_str(), PIPE_ACCESS_DUPLEX | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_NOWAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, PIPE_BUFFER, PIPE_BUFFER, 0, &security);
    LocalFree(descriptor);
    return pipe;
}

// True when some process serves the pipe, whether or not one of its ends is free.
bool PipeExists(const std::string& path) {
    return WaitNamedPipeA(path.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND;
}

// "No wait" asks only whether a client has connected to this end. False when none has; an end
// whose client came and went is made ready for the next one.
bool ClientConnected(HANDLE end) {
    if (ConnectNamedPipe(end, nullptr)) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_NO_DATA) {
        DisconnectNamedPipe(end);
    }
    return error == ERROR_PIPE_CONNECTED;
}

std::string LastErrorText() {
    const DWORD error = GetLastError();
    char text[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                          text[length - 1] == ' ' || text[length - 1] == '.')) {
        --length;
    }
    return length == 0 ? "error " + std::to_string(error) : std::string(text, length);
}

}  // namespace

LocalStream::~LocalStream() {
    Close();
}

int LocalStream::Connect(const std::string& path) {
    Close();
    const auto open = [&] {
        return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    };
    HANDLE pipe = open();
    if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY &&
        WaitNamedPipeA(path.c_str(), BUSY_WAIT_MS)) {
        pipe = open();
    }
    if (pipe == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    sock = FromNative(pipe);
    return 0;
}

LocalIo LocalStream::Receive(void* data, std::size_t capacity, int waitMs) {
    if (!IsOpen()) {
        return LocalIo{0, LocalIoStatus::Failed};
    }
    // A pipe has no wait for input beside others; the client's wait looks again now and then.
    constexpr DWORD LOOK_AGAIN_MS = 10;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(waitMs);
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(Native(sock), nullptr, 0, nullptr, &available, nullptr)) {
            const DWORD error = GetLastError();
            return LocalIo{0, error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED
                                  ? LocalIoStatus::Closed
                                  : LocalIoStatus::Failed};
        }
        if (available > 0) {
            DWORD received = 0;
            if (!ReadFile(Native(sock), data,
                          ClampedLength(capacity < available ? capacity : available), &received,
                          nullptr)) {
                return LocalIo{0, LocalIoStatus::Failed};
            }
            return LocalIo{received, LocalIoStatus::Done};
        }
        if (GetTickCount64() >= deadline) {
            return LocalIo{0, LocalIoStatus::WouldBlock};
        }
        Sleep(LOOK_AGAIN_MS);
    }
}

LocalIo LocalStream::Send(const void* data, std::size_t length) {
    if (!IsOpen()) {
        return LocalIo{0, LocalIoStatus::Failed};
    }
    DWORD sent = 0;
    if (!WriteFile(Native(sock), data, ClampedLength(length), &sent, nullptr)) {
        const DWORD error = GetLastError();
        return LocalIo{0, error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE ||
                                  error == ERROR_PIPE_NOT_CONNECTED
                              ? LocalIoStatus::Closed
                              : LocalIoStatus::Failed};
    }
    if (sent == 0 && length > 0) {
        return LocalIo{0, LocalIoStatus::WouldBlock};
    }
    return LocalIo{sent, LocalIoStatus::Done};
}

void LocalStream::Close() {
    if (IsOpen()) {
        CloseHandle(Native(sock));
        sock = sockets::INVALID_SOCKET_HANDLE;
    }
}

LocalListener::~LocalListener() {
    Close();
}

int LocalListener::Listen(const std::string& pipePath) {
    Close();
    failure.clear();
    if (!pipePath.starts_with(PIPE_PREFIX) || pipePath.size() == PIPE_PREFIX.size()) {
        failure = "'" + pipePath + "' is not a pipe name of the form \\\\.\\pipe\\NAME";
        return 1;
    }
    const HANDLE pipe = PipeExists(pipePath) ? INVALID_HANDLE_VALUE : NewInstance(pipePath, true);
    if (pipe == INVALID_HANDLE_VALUE) {
        failure = PipeExists(pipePath) || GetLastError() == ERROR_ACCESS_DENIED
                      ? "a running server already listens at '" + pipePath + "'"
                      : "cannot listen at '" + pipePath + "': " + LastErrorText();
        return 1;
    }
    sock = FromNative(pipe);
    path = pipePath;
    while (waitingEnds.size() + 1 < WAITING_ENDS) {
        const HANDLE end = NewInstance(path, false);
        if (end == INVALID_HANDLE_VALUE) {
            break;
        }
        waitingEnds.push_back(FromNative(end));
    }
    return 0;
}

std::vector<sockets::SocketHandle> LocalListener::Handles() const {
    if (!IsOpen()) {
        return {};
    }
    std::vector<sockets::SocketHandle> handles = {sock};
    handles.insert(handles.end(), waitingEnds.begin(), waitingEnds.end());
    return handles;
}

std::unique_ptr<LocalStream> LocalListener::Accept() {
    if (!IsOpen()) {
        return nullptr;
    }
    // The first end stays with the listener, since it alone holds the pipe's name against
    // another server; the others are handed over as their clients come.
    for (auto end = waitingEnds.begin(); end != waitingEnds.end(); ++end) {
        if (ClientConnected(Native(*end))) {
            auto connected = std::make_unique<LocalStream>(*end);
            const HANDLE next = NewInstance(path, false);
            if (next == INVALID_HANDLE_VALUE) {
                waitingEnds.erase(end);
            } else {
                *end = FromNative(next);
            }
            return connected;
        }
    }
    if (!ClientConnected(Native(sock))) {
        return nullptr;
    }
    // A client on the first end: it is handed over and a new end takes the first one's place.
    const HANDLE next = NewInstance(path, false);
    if (next == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    auto connected = std::make_unique<LocalStream>(sock);
    sock = FromNative(next);
    return connected;
}

void LocalListener::Close() {
    for (const sockets::SocketHandle end : waitingEnds) {
        CloseHandle(Native(end));
    }
    waitingEnds.clear();
    if (IsOpen()) {
        CloseHandle(Native(sock));
        sock = sockets::INVALID_SOCKET_HANDLE;
        path.clear();
    }
}
