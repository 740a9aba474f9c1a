#include "net/ReadinessSet.h"

#include "net/NetSocket.h"

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

// The kernel keeps a ready list per epoll instance; level-triggered, so a member that is not
// drained is reported again by the next collection.
struct ReadinessSet::Platform {
    int queue = -1;
    std::vector<epoll_event> events;
};

namespace {

constexpr std::uint32_t WATCHED_EVENTS = EPOLLIN | EPOLLRDHUP;

int Descriptor(sockets::SocketHandle sock) {
    return static_cast<int>(sock);
}

ReadyMember Reported(const epoll_event& event) {
    // A closed connection reports a hang-up, a reset an error and a peer's end of stream a read
    // hang-up; a member with none of them is connected.
    const bool onlyData =
        (event.events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) == 0 && (event.events & EPOLLIN) != 0;
    const bool onlyRoom = event.events == EPOLLOUT;
    return ReadyMember{static_cast<std::uint32_t>(event.data.u64), onlyData, onlyRoom};
}

}  // namespace

ReadinessSet::ReadinessSet() : platform(std::make_unique<Platform>()) {
    platform->queue = epoll_create1(EPOLL_CLOEXEC);
}

ReadinessSet::~ReadinessSet() {
    if (platform->queue >= 0) {
        close(platform->queue);
    }
}

int ReadinessSet::JoinHandle(sockets::SocketHandle sock, std::uint32_t key) {
    if (platform->queue < 0) {
        return 1;
    }
    epoll_event event{};
    event.events = WATCHED_EVENTS;
    event.data.u64 = key;
    if (epoll_ctl(platform->queue, EPOLL_CTL_ADD, Descriptor(sock), &event) != 0) {
        return 1;
    }
    ++members;
    return 0;
}

int ReadinessSet::LeaveHandle(sockets::SocketHandle sock) {
    if (platform->queue < 0 ||
        epoll_ctl(platform->queue, EPOLL_CTL_DEL, Descriptor(sock), nullptr) != 0) {
        return 1;
    }
    --members;
    return 0;
}

int ReadinessSet::WatchRoom(const NetSocket& endpoint, std::uint32_t key, bool watch) {
    if (platform->queue < 0 || !endpoint.IsOpen()) {
        return 1;
    }
    epoll_event event{};
    event.events = WATCHED_EVENTS | (watch ? std::uint32_t{EPOLLOUT} : 0u);
    event.data.u64 = key;
    return epoll_ctl(platform->queue, EPOLL_CTL_MOD, Descriptor(endpoint.sock), &event) == 0 ? 0
                                                                                             : 1;
}

int ReadinessSet::Gather(int timeoutMilliseconds, std::vector<ReadyMember>& ready) {
    ready.clear();
    if (platform->queue < 0) {
        return 1;
    }
    // Room for every member, so that one call reports all that are ready.
    const std::size_t room = std::max<std::size_t>(members, 1);
    if (platform->events.size() < room) {
        platform->events.resize(room);
    }
    const int count = epoll_wait(platform->queue, platform->events.data(),
                                 static_cast<int>(platform->events.size()), timeoutMilliseconds);
    if (count < 0) {
        return errno == EINTR ? -1 : 1;
    }
    ready.reserve(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index) {
        ready.push_back(Reported(platform->events[static_cast<std::size_t>(index)]));
    }
    return 0;
}

int ReadinessSet::Wait(int timeoutMilliseconds, std::vector<ReadyMember>& ready,
                       const std::vector<sockets::SocketHandle>& others, bool& othersReady) {
    othersReady = false;
    if (others.empty()) {
        return Wait(timeoutMilliseconds, ready);
    }
    ready.clear();
    if (platform->queue < 0) {
        return 1;
    }
    // The epoll instance is readable while a member is ready, so one poll watches both.
    std::vector<pollfd> watched{{platform->queue, POLLIN, 0}};
    for (const sockets::SocketHandle other : others) {
        watched.push_back(pollfd{Descriptor(other), POLLIN, 0});
    }
    if (poll(watched.data(), watched.size(), timeoutMilliseconds) < 0) {
        return errno == EINTR ? 0 : 1;
    }
    othersReady = std::any_of(watched.begin() + 1, watched.end(),
                              [](const pollfd& other) { return other.revents != 0; });
    return watched[0].revents != 0 ? Collect(ready) : 0;
}
