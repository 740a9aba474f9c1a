// The load tool's players in the mode for a server that greets nobody, against a frame broker in
// this process that passes every frame it reads to all its other connections, as a byte broker
// does.

#include "protocol/FrameSocket.h"
#include "tools/load/Admission.h"
#include "tools/load/LoadSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace {

std::int64_t virtualNow = 0;

std::int64_t VirtualClock() {
    return virtualNow;
}

class FrameBroker {
public:
    FrameBroker() { listener.Open(NS_TCP | NS_SERVER, 0, "127.0.0.1"); }

    std::uint16_t Port() const { return listener.LocalPort(); }
    std::size_t Connections() const { return connections.size(); }
    const std::vector<Frame>& Relayed() const { return relayed; }
    // True once every connection has been closed by its player and read to its end.
    bool AllClosed() {
        for (const auto& connection : connections) {
            if (connection->IsConnected()) {
                return false;
            }
        }
        return true;
    }

    // Takes the connections waiting, then passes on every whole frame read.
    void Step() {
        while (NetSocket* accepted = listener.Accept()) {
            connections.emplace_back(accepted);
        }
        Frame frame;
        for (std::size_t from = 0; from < connections.size(); ++from) {
            while (TakeFrame(*connections[from], frame)) {
                relayed.push_back(frame);
                for (std::size_t to = 0; to < connections.size(); ++to) {
                    if (to != from) {
                        SendFrame(*connections[to], frame);
                    }
                }
            }
        }
    }

private:
    NetSocket listener;
    std::vector<std::unique_ptr<NetSocket>> connections;
    std::vector<Frame> relayed;
};

constexpr std::int64_t TICK_MICROS = 10000;

// Calls `step` until `done` holds, for as long as a loaded machine may need; whether it holds.
bool StepUntil(const std::function<bool()>& done, const std::function<void()>& step) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        step();
    }
    return true;
}

}  // namespace

TEST(BrokerLoad, PlayersThatExpectNoGreetingBroadcastFullValuesAndLeaveWithoutTheLeaveMessage) {
    FrameBroker broker;
    ASSERT_NE(broker.Port(), 0);
    LoadOptions options;
    options.port = broker.Port();
    options.players = 4;
    options.noGreeting = true;
    options.rate = 0.0;
    options.broadcasts = 0.0;
    options.broadcasters = 4;
    options.broadcasterRate = 50.0;
    options.fullValues = true;
    virtualNow = 0;
    LoadSession session(options, 3, VirtualClock);
    for (unsigned index = 0; index < options.players; ++index) {
        std::string error;
        auto endpoint = ConnectUngreeted(options.port, error);
        ASSERT_NE(endpoint, nullptr) << error;
        session.AddSteady(static_cast<PlayerId>(FIRST_PLAYER_ID + index), std::move(endpoint));
    }
    const auto brokerStep = [&] { broker.Step(); };
    ASSERT_TRUE(StepUntil([&] { return broker.Connections() >= options.players; }, brokerStep));
    ASSERT_EQ(broker.Connections(), options.players);

    session.Begin();
    // Half a second of sending, every 20 ms from each player, the first sends spread over 20 ms
    // from 0 s: 26 broadcasts from the first player (at 0 s and at 0.5 s), 25 from the others.
    for (int step = 0; step < 50; ++step) {
        virtualNow += TICK_MICROS;
        session.Tick(true);
        broker.Step();
    }
    StepUntil([&] { return session.Check().AllDelivered(); },
              [&] {
                  session.Tick(false);
                  broker.Step();
              });
    const DeliveryCounts& counts = session.Check().Counts();
    EXPECT_EQ(counts.broadcastsSent, 101u);
    EXPECT_EQ(counts.directedSent, 0u);
    EXPECT_EQ(counts.expected, counts.broadcastsSent * 3);
    EXPECT_EQ(counts.delivered, counts.expected);
    EXPECT_EQ(counts.corrupted, 0u);
    EXPECT_EQ(counts.outOfOrder, 0u);
    for (const Frame& frame : broker.Relayed()) {
        EXPECT_EQ(frame.value.size(), MAX_VALUE_LENGTH);
        EXPECT_EQ(frame.target, BROADCAST_ID);
    }

    const std::size_t relayedBeforeLeaving = broker.Relayed().size();
    session.Leave();
    ASSERT_TRUE(StepUntil([&] { return broker.AllClosed(); }, brokerStep));
    EXPECT_EQ(broker.Relayed().size(), relayedBeforeLeaving);
}
