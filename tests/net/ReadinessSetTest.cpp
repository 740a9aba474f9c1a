#include "net/ReadinessSet.h"
#include "testing/LoopbackClient.h"
#include "testing/PlatformTraits.h"
#include "tests/net/NetTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// Players as the relay holds them: a client outside and the accepted endpoint, joined to the
// set under its own key.
class ReadinessSetTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(listener.Open(NS_TCP | NS_SERVER, 0, nullptr), 0); }

    // Connects a client and joins its accepted endpoint under `key`; the index of the pair.
    std::size_t AddMember(std::uint32_t key) {
        clients.push_back(std::make_unique<LoopbackClient>(listener.LocalPort()));
        endpoints.push_back(AcceptOne(listener));
        EXPECT_TRUE(clients.back()->Connected());
        EXPECT_NE(endpoints.back(), nullptr);
        EXPECT_EQ(set.Join(*endpoints.back(), key), 0);
        return endpoints.size() - 1;
    }

    std::vector<ReadyMember> Collected() {
        std::vector<ReadyMember> ready;
        EXPECT_EQ(set.Collect(ready), 0);
        std::sort(ready.begin(), ready.end(),
                  [](const ReadyMember& a, const ReadyMember& b) { return a.key < b.key; });
        return ready;
    }

    std::vector<std::uint32_t> Ready() {
        std::vector<std::uint32_t> keys;
        for (const ReadyMember& member : Collected()) {
            keys.push_back(member.key);
        }
        return keys;
    }

    // Whether the collection calls the member under `key` one with only data; it must be ready.
    bool OnlyData(std::uint32_t key) {
        for (const ReadyMember& member : Collected()) {
            if (member.key == key) {
                return member.onlyData;
            }
        }
        ADD_FAILURE() << "member " << key << " is not ready";
        return false;
    }

    // Collects until the set reports exactly `expected`; loopback delivery is quick but not
    // instant.
    bool BecomesReady(const std::vector<std::uint32_t>& expected) {
        return WaitFor([&] { return Ready() == expected; });
    }

    NetSocket listener;
    ReadinessSet set;
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    std::vector<std::unique_ptr<NetSocket>> endpoints;
};

using Keys = std::vector<std::uint32_t>;

}  // namespace

TEST_F(ReadinessSetTest, ReportsAMemberWithDataUntilItsInputIsTaken) {
    AddMember(2);
    const std::size_t talker = AddMember(3);
    AddMember(4);
    EXPECT_EQ(set.Members(), 3u);
    EXPECT_EQ(Ready(), Keys{});

    ASSERT_TRUE(clients[talker]->SendFrame(7, 2, "hi"));
    ASSERT_TRUE(BecomesReady({3}));
    // Nothing was taken, so the next collection reports it again.
    EXPECT_EQ(Ready(), Keys{3});

    ASSERT_EQ(endpoints[talker]->ReceiveInPlace(), 0);
    EXPECT_EQ(endpoints[talker]->BufferedBytes(), 6u);
    EXPECT_EQ(Ready(), Keys{});
}

TEST_F(ReadinessSetTest, ReportsAnOrderlyCloseAndAReset) {
    const std::size_t closer = AddMember(2);
    AddMember(3);
    const std::size_t resetter = AddMember(4);
    clients[closer]->ShutdownWrite();
    ASSERT_TRUE(BecomesReady({2}));
    clients[resetter]->Reset();
    ASSERT_TRUE(BecomesReady({2, 4}));
    EXPECT_FALSE(endpoints[closer]->IsConnected());
    EXPECT_FALSE(endpoints[resetter]->IsConnected());
}

// A member called one with only data skips the relay's liveness test, so no member whose peer
// closed or reset may be called so, whatever data it left unread.
TEST_F(ReadinessSetTest, OnlyAMemberWithNothingButDataIsCalledOneWithOnlyData) {
    const std::size_t talker = AddMember(2);
    const std::size_t leaver = AddMember(3);
    const std::size_t closer = AddMember(4);
    const std::size_t resetter = AddMember(5);
    for (const std::size_t index : {talker, leaver}) {
        ASSERT_TRUE(clients[index]->SendFrame(7, 2, "hi"));
    }
    ASSERT_TRUE(BecomesReady({2, 3}));
    EXPECT_EQ(OnlyData(2), ReadinessTellsOnlyData());

    clients[leaver]->ShutdownWrite();
    clients[closer]->ShutdownWrite();
    clients[resetter]->Reset();
    ASSERT_TRUE(BecomesReady({2, 3, 4, 5}));
    ASSERT_TRUE(WaitFor([&] { return !OnlyData(3); }));
    EXPECT_FALSE(OnlyData(4));
    EXPECT_FALSE(OnlyData(5));
    EXPECT_EQ(OnlyData(2), ReadinessTellsOnlyData());
    // Data left before the end of the stream keeps the connection standing in the full test.
    EXPECT_TRUE(endpoints[leaver]->IsConnected());
    EXPECT_FALSE(endpoints[closer]->IsConnected());
    EXPECT_FALSE(endpoints[resetter]->IsConnected());
}

TEST_F(ReadinessSetTest, ALeftMemberIsNotReportedAndItsKeyCanBeReused) {
    const std::size_t first = AddMember(2);
    ASSERT_EQ(set.Leave(*endpoints[first]), 0);
    EXPECT_EQ(set.Members(), 0u);
    ASSERT_TRUE(clients[first]->SendFrame(1, 0, "x"));
    ASSERT_TRUE(ReceiveAtLeast(*endpoints[first], 5));
    ASSERT_TRUE(clients[first]->SendFrame(1, 0, "y"));
    EXPECT_EQ(Ready(), Keys{});

    const std::size_t second = AddMember(2);
    EXPECT_EQ(set.Members(), 1u);
    ASSERT_TRUE(clients[second]->SendFrame(1, 0, "z"));
    ASSERT_TRUE(BecomesReady({2}));
}

TEST_F(ReadinessSetTest, RefusesWhatItCannotWatch) {
    const std::size_t member = AddMember(2);
    EXPECT_EQ(set.Join(*endpoints[member], 5), 1);
    NetSocket neverOpened;
    EXPECT_EQ(set.Join(neverOpened, 3), 1);
    EXPECT_EQ(set.Leave(neverOpened), 1);
    ASSERT_EQ(set.Leave(*endpoints[member]), 0);
    EXPECT_EQ(set.Leave(*endpoints[member]), 1);
    EXPECT_EQ(set.Members(), 0u);
}

TEST_F(ReadinessSetTest, ACollectionReportsEveryReadyMemberAtOnce) {
    constexpr std::uint32_t COUNT = 50;
    Keys everyone;
    for (std::uint32_t key = 2; key < 2 + COUNT; ++key) {
        AddMember(key);
        everyone.push_back(key);
    }
    for (auto& client : clients) {
        ASSERT_TRUE(client->SendFrame(1, 1, "a"));
    }
    EXPECT_TRUE(BecomesReady(everyone));
}
