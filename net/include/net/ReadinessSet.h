#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class NetSocket;

// Endpoints watched for input from one test to the next, each under a key of its owner's
// choosing. A collection names the members that have something to report: data, the end of the
// stream, a reset or an error. A member stays reported for as long as that is so.
//
// On Linux the kernel keeps readiness itself (epoll), so a collection costs the members that are
// ready, not the members; on Windows it tests every member (WSAPoll), which costs each of them.
class ReadinessSet {
public:
    ReadinessSet();
    ~ReadinessSet();
    ReadinessSet(const ReadinessSet&) = delete;
    ReadinessSet& operator=(const ReadinessSet&) = delete;

    // Watches an open stream endpoint under `key` until Leave. 0 on success; 1 when the
    // endpoint is not open, is already a member, or the platform refused it.
    int Join(const NetSocket& endpoint, std::uint32_t key);
    // Stops watching the endpoint; call it before the endpoint closes. 0 on success; 1 when it
    // was not a member.
    int Leave(const NetSocket& endpoint);
    // Replaces `keys` with the keys of the members that are ready now, in no particular order,
    // without waiting. 1 when the test failed; `keys` is then empty.
    int Collect(std::vector<std::uint32_t>& keys);
    std::size_t Members() const { return members; }

private:
    struct Platform;
    std::unique_ptr<Platform> platform;
    std::size_t members = 0;
};
