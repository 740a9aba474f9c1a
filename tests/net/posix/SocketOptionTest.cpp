// The socket options an endpoint sets, seen at the system call: this executable provides its own
// setsockopt, which notes each call and passes it on to the C library's.

#include "net/NetSocket.h"

#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace {

struct OptionCall {
    int level;
    int name;
    socklen_t size;
};

std::mutex callsLock;
std::vector<OptionCall> calls;

using SetOption = int (*)(int, int, int, const void*, socklen_t);

std::vector<OptionCall> TakeCalls() {
    std::lock_guard<std::mutex> guard(callsLock);
    std::vector<OptionCall> taken;
    taken.swap(calls);
    return taken;
}

bool Includes(const std::vector<OptionCall>& made, int level, int name, socklen_t size) {
    for (const OptionCall& call : made) {
        if (call.level == level && call.name == name && call.size == size) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int setsockopt(int fd, int level, int name, const void* value, socklen_t size) {
    {
        std::lock_guard<std::mutex> guard(callsLock);
        calls.push_back(OptionCall{level, name, size});
    }
    static const auto system = reinterpret_cast<SetOption>(dlsym(RTLD_NEXT, "setsockopt"));
    return system(fd, level, name, value, size);
}

TEST(SocketOptionTest, ADatagramEndpointWithoutMulticastSetsMulticastLoopAsAFourByteInteger) {
    TakeCalls();
    NetSocket datagrams;
    ASSERT_EQ(datagrams.Open(NS_UDP, 0, nullptr), 0);
    EXPECT_TRUE(Includes(TakeCalls(), IPPROTO_IP, IP_MULTICAST_LOOP, 4));

    // Stream endpoints have nothing to do with multicast.
    NetSocket listener;
    ASSERT_EQ(listener.Open(NS_TCP | NS_SERVER, 0, nullptr), 0);
    EXPECT_FALSE(Includes(TakeCalls(), IPPROTO_IP, IP_MULTICAST_LOOP, 4));
}
