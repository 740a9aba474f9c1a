#pragma once

#include "net/SocketHandle.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class NetSocket;
class WakeSignal;

// A member that a collection found ready.
struct ReadyMember {
    std::uint32_t key;
    // Data is all it reports: no end of stream, reset or error, so its connection stood when the
    // collection was made. False whenever the platform cannot tell.
    bool onlyData;
    // Room for output is all it reports (see WatchRoom).
    bool onlyRoom = false;
};

// Endpoints (and wake signals) watched for input from one test to the next, each under a key of its
// owner's choosing. A collection names the members that have something to report: data, the end of
// the stream, a reset or an error. A member stays reported for as long as that is so.
//
// On Linux the kernel keeps readiness itself (epoll), so a collection costs the members that are
// ready, not the members, and it tells a member with only data from one whose peer may be gone.
// On Windows it tests every member (WSAPoll), which costs each of them, and it does not tell
// them apart: Winsock's poll flags are not relied on to tell a graceful close from data.
class ReadinessSet {
public:
    ReadinessSet();
    ~ReadinessSet();
    ReadinessSet(const ReadinessSet&) = delete;
    ReadinessSet& operator=(const ReadinessSet&) = delete;

    // Watches an open stream endpoint under `key` until Leave. 0 on success; 1 when the
    // endpoint is not open, is already a member, or the platform refused it.
    int Join(const NetSocket& endpoint, std::uint32_t key);
    // Watches a wake signal under `key`: it is ready from its Raise to its Clear.
    int Join(const WakeSignal& signal, std::uint32_t key);
    // Stops watching the endpoint; call it before the endpoint closes. 0 on success; 1 when it
    // was not a member.
    int Leave(const NetSocket& endpoint);
    int Leave(const WakeSignal& signal);
    // Watches a member also for room to write (or stops that), so that output it keeps can
    // leave as soon as its socket takes it; `key` is the key it joined with. 0 on success.
    int WatchRoom(const NetSocket& endpoint, std::uint32_t key, bool watch);
    // Replaces `ready` with the members that are ready now, in no particular order, without
    // waiting. 1 when the test failed; `ready` is then empty.
    int Collect(std::vector<ReadyMember>& ready);
    // Waits until a member is ready or `timeoutMilliseconds` have passed (-1: no limit), and
    // collects as Collect does. A signal that interrupts the wait ends it with nothing ready.
    int Wait(int timeoutMilliseconds, std::vector<ReadyMember>& ready);
    // The same, ending also when one of `others` (handles that are not members, such as the
    // operator's channels) has input, which `othersReady` then says; `ready` names only the
    // members ready. On Windows, whose channels include pipes that its socket poll cannot
    // watch, the wait with others ends after at most 100 ms instead, and `othersReady` is false.
    int Wait(int timeoutMilliseconds, std::vector<ReadyMember>& ready,
             const std::vector<sockets::SocketHandle>& others, bool& othersReady);
    std::size_t Members() const { return members; }

private:
    int JoinHandle(sockets::SocketHandle sock, std::uint32_t key);
    int LeaveHandle(sockets::SocketHandle sock);
    // One look at the members, waiting up to `timeoutMilliseconds`: 0, 1 when it failed, or -1
    // when a signal ended the wait first.
    int Gather(int timeoutMilliseconds, std::vector<ReadyMember>& ready);

    struct Platform;
    std::unique_ptr<Platform> platform;
    std::size_t members = 0;
};
