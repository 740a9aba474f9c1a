#include "net/ReadinessSet.h"

#include "net/NetSocket.h"
#include "net/WakeSignal.h"

namespace {

// What Gather returns when a signal ended its wait first.
constexpr int INTERRUPTED = -1;

}  // namespace

int ReadinessSet::Join(const NetSocket& endpoint, std::uint32_t key) {
    return endpoint.IsOpen() ? JoinHandle(endpoint.sock, key) : 1;
}

int ReadinessSet::Join(const WakeSignal& signal, std::uint32_t key) {
    return signal.IsOpen() ? JoinHandle(signal.channel.readEnd, key) : 1;
}

int ReadinessSet::Leave(const NetSocket& endpoint) {
    return endpoint.IsOpen() ? LeaveHandle(endpoint.sock) : 1;
}

int ReadinessSet::Leave(const WakeSignal& signal) {
    return signal.IsOpen() ? LeaveHandle(signal.channel.readEnd) : 1;
}

int ReadinessSet::Collect(std::vector<ReadyMember>& ready) {
    ready.clear();
    // Nothing to look at: a set that the platform refused has no members either.
    if (members == 0) {
        return 0;
    }
    int result;
    do {
        result = Gather(0, ready);
    } while (result == INTERRUPTED);
    return result;
}

int ReadinessSet::Wait(int timeoutMilliseconds, std::vector<ReadyMember>& ready) {
    const int result = Gather(timeoutMilliseconds, ready);
    return result == INTERRUPTED ? 0 : result;
}
