#include "net/ReadinessSet.h"

#include "net/NetSocket.h"

#include <sys/epoll.h>
#include <unistd.h>

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

}  // namespace

ReadinessSet::ReadinessSet() : platform(std::make_unique<Platform>()) {
    platform->queue = epoll_create1(EPOLL_CLOEXEC);
}

ReadinessSet::~ReadinessSet() {
    if (platform->queue >= 0) {
        close(platform->queue);
    }
}

int ReadinessSet::Join(const NetSocket& endpoint, std::uint32_t key) {
    if (platform->queue < 0 || !endpoint.IsOpen()) {
        return 1;
    }
    epoll_event event{};
    event.events = WATCHED_EVENTS;
    event.data.u64 = key;
    if (epoll_ctl(platform->queue, EPOLL_CTL_ADD, Descriptor(endpoint.sock), &event) != 0) {
        return 1;
    }
    ++members;
    return 0;
}

int ReadinessSet::Leave(const NetSocket& endpoint) {
    if (platform->queue < 0 || !endpoint.IsOpen() ||
        epoll_ctl(platform->queue, EPOLL_CTL_DEL, Descriptor(endpoint.sock), nullptr) != 0) {
        return 1;
    }
    --members;
    return 0;
}

int ReadinessSet::Collect(std::vector<ReadyMember>& ready) {
    ready.clear();
    if (platform->queue < 0) {
        return 1;
    }
    if (members == 0) {
        return 0;
    }
    // Room for every member, so that one call reports all that are ready.
    if (platform->events.size() < members) {
        platform->events.resize(members);
    }
    int count;
    do {
        count = epoll_wait(platform->queue, platform->events.data(),
                           static_cast<int>(platform->events.size()), 0);
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        return 1;
    }
    ready.reserve(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index) {
        const epoll_event& event = platform->events[static_cast<std::size_t>(index)];
        // A closed connection reports a hang-up, a reset an error and a peer's end of stream a
        // read hang-up; a member with none of them is connected.
        const bool onlyData = (event.events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) == 0 &&
                              (event.events & EPOLLIN) != 0;
        ready.push_back(ReadyMember{static_cast<std::uint32_t>(event.data.u64), onlyData});
    }
    return 0;
}
