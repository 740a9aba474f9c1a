#include "net/ReadinessSet.h"

namespace {

// What Gather returns when a signal ended its wait first.
constexpr int INTERRUPTED = -1;

}  // namespace

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
