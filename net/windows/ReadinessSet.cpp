#include "net/ReadinessSet.h"

#include "net/NetSocket.h"

#include <winsock2.h>

// Winsock keeps no readiness between calls: a collection tests every member with one WSAPoll,
// so its cost grows with the members, unlike epoll's.
struct ReadinessSet::Platform {
    std::vector<WSAPOLLFD> watched;
    // The key of each watched socket, at the same position.
    std::vector<std::uint32_t> keys;

    // The position of `sock` among the watched, or the count when it is not one of them.
    std::size_t Find(SOCKET sock) const {
        std::size_t position = 0;
        while (position < watched.size() && watched[position].fd != sock) {
            ++position;
        }
        return position;
    }
};

namespace {

SOCKET Native(sockets::SocketHandle sock) {
    return static_cast<SOCKET>(sock);
}

}  // namespace

ReadinessSet::ReadinessSet() : platform(std::make_unique<Platform>()) {}

ReadinessSet::~ReadinessSet() = default;

int ReadinessSet::JoinHandle(sockets::SocketHandle handle, std::uint32_t key) {
    const SOCKET sock = Native(handle);
    if (platform->Find(sock) != platform->watched.size()) {
        return 1;
    }
    platform->watched.push_back(WSAPOLLFD{sock, POLLRDNORM, 0});
    platform->keys.push_back(key);
    ++members;
    return 0;
}

int ReadinessSet::LeaveHandle(sockets::SocketHandle handle) {
    const std::size_t position = platform->Find(Native(handle));
    if (position == platform->watched.size()) {
        return 1;
    }
    // The order of the members does not matter: the last one takes the place of the leaver.
    platform->watched[position] = platform->watched.back();
    platform->keys[position] = platform->keys.back();
    platform->watched.pop_back();
    platform->keys.pop_back();
    --members;
    return 0;
}

int ReadinessSet::WatchRoom(const NetSocket& endpoint, std::uint32_t, bool watch) {
    if (!endpoint.IsOpen()) {
        return 1;
    }
    const std::size_t position = platform->Find(Native(endpoint.sock));
    if (position == platform->watched.size()) {
        return 1;
    }
    platform->watched[position].events =
        static_cast<SHORT>(watch ? POLLRDNORM | POLLWRNORM : POLLRDNORM);
    return 0;
}

int ReadinessSet::Gather(int timeoutMilliseconds, std::vector<ReadyMember>& ready) {
    ready.clear();
    if (members == 0) {
        // WSAPoll takes no empty set; with nothing to watch only a time limit ends the wait.
        if (timeoutMilliseconds < 0) {
            return 1;
        }
        Sleep(static_cast<DWORD>(timeoutMilliseconds));
        return 0;
    }
    if (WSAPoll(platform->watched.data(), static_cast<ULONG>(platform->watched.size()),
                timeoutMilliseconds) == SOCKET_ERROR) {
        return 1;
    }
    // Hang-ups and errors are reported whatever was asked for.
    for (std::size_t position = 0; position < platform->watched.size(); ++position) {
        const SHORT reported = platform->watched[position].revents;
        if (reported != 0) {
            ready.push_back(ReadyMember{platform->keys[position], false, reported == POLLWRNORM});
        }
    }
    return 0;
}

int ReadinessSet::Wait(int timeoutMilliseconds, std::vector<ReadyMember>& ready,
                       const std::vector<sockets::SocketHandle>& others, bool& othersReady) {
    constexpr int OTHERS_LOOK_MS = 100;
    othersReady = false;
    if (!others.empty() && (timeoutMilliseconds < 0 || timeoutMilliseconds > OTHERS_LOOK_MS)) {
        timeoutMilliseconds = OTHERS_LOOK_MS;
    }
    return Wait(timeoutMilliseconds, ready);
}
