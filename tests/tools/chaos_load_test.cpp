#include "protocol/FrameSocket.h"
#include "testing/RelayHarness.h"
#include "tools/load/LoadSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

// The load tool's players, well-behaved and misbehaving, against the relay running in this
// process, pass by pass, on a clock the test moves: each step of the players is one pass of the
// relay and `tick` of the players' time.
namespace {

std::int64_t virtualNow = 0;

std::int64_t VirtualClock() {
    return virtualNow;
}

class ChaosLoad : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(harness.Listening());
        virtualNow = 0;
        options.port = harness.Port();
        options.rate = 5.0;
        options.broadcasts = 2.0;
    }

    // Joins `steady` well-behaved and `misbehaving` misbehaving players, mixed.
    void Join(unsigned steady, unsigned misbehaving) {
        session = std::make_unique<LoadSession>(options, 7, VirtualClock);
        for (unsigned index = 0; index < steady + misbehaving; ++index) {
            if (index % 2 == 1 && misbehaving > 0) {
                --misbehaving;
                JoinMisbehaving();
            } else {
                JoinSteady();
            }
        }
        session->Begin();
    }

    void JoinSteady() {
        auto endpoint = std::make_unique<NetSocket>();
        ASSERT_EQ(endpoint->Open(NS_TCP, harness.Port(), "127.0.0.1"), 0);
        endpoint->EnableNoDelay();
        Frame greeting[2];
        int greeted = 0;
        ASSERT_TRUE(harness.RunPassesUntil([&] {
            while (greeted < 2 && TakeFrame(*endpoint, greeting[greeted])) {
                ++greeted;
            }
            return greeted == 2;
        }));
        session->AddSteady(greeting[0].target, std::move(endpoint));
    }

    void JoinMisbehaving() {
        ChaosPlayer& player = session->AddChaos();
        misbehavingPlayers.push_back(&player);
        ASSERT_TRUE(harness.RunPassesUntil([&] {
            session->StepChaos(player);
            return player.Joined();
        }));
    }

    // One pass of the relay and one step of the players.
    void Step(bool sending) {
        virtualNow += tick;
        session->Tick(sending);
        harness.RunPass();
    }

    void Run(int passes) {
        for (int pass = 0; pass < passes; ++pass) {
            Step(true);
        }
    }

    // Steps without sending until at most `missing` frames between well-behaved players have
    // not arrived, or for a time generous enough for a loaded machine; whether all arrived.
    bool Drain(std::uint64_t missing = 0) {
        StepUntil([&] { return session->Check().Counts().Missing() <= missing; }, false);
        session->CheckConnections();
        return session->Check().AllDelivered();
    }

    void ExpectCleanChecks() {
        const DeliveryCounts& counts = session->Check().Counts();
        EXPECT_GT(counts.expected, 0u);
        EXPECT_EQ(counts.Missing(), 0u);
        EXPECT_EQ(counts.corrupted, 0u);
        EXPECT_EQ(counts.misrouted, 0u);
        EXPECT_EQ(counts.duplicated, 0u);
        EXPECT_EQ(counts.outOfOrder, 0u);
        EXPECT_EQ(session->ConnectionsLost(), 0u);
        const ChaosTally& tally = session->Tally();
        EXPECT_EQ(tally.endedUnprovoked, 0u);
        EXPECT_EQ(tally.keptAfterLeaving, 0u);
        EXPECT_EQ(tally.badGreetings, 0u);
    }

    // Takes the next whole frame that player `sender` has sent out of the relay's input before
    // the relay sees it, as a broken relay would.
    bool Intercept(PlayerId sender, Frame& frame) {
        NetSocket* endpoint = harness.Endpoint(sender);
        for (int attempt = 0; attempt < 500; ++attempt) {
            virtualNow += tick;
            session->Tick(true);
            if (TakeFrame(*endpoint, frame)) {
                return true;
            }
        }
        // On a loaded machine what the players sent may reach the relay's socket later.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!TakeFrame(*endpoint, frame)) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::yield();
        }
        return true;
    }

    // Steps until `done` holds, or for a time generous enough for a loaded machine; whether it
    // holds.
    bool StepUntil(const std::function<bool()>& done, bool sending) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            Step(sending);
        }
        return true;
    }

    // Three well-behaved players and two misbehaving ones send directed frames for a while; then
    // the next frame of the first well-behaved player is taken out of the relay's input.
    bool StartAndIntercept(Frame& frame) {
        options.broadcasts = 0.0;
        Join(3, 2);
        Run(50);
        return Intercept(session->Steady()[0].id, frame);
    }

    RelayHarness harness;
    // The players' time that passes with each pass of the relay, in microseconds.
    std::int64_t tick = 20000;
    LoadOptions options;
    std::unique_ptr<LoadSession> session;
    std::vector<ChaosPlayer*> misbehavingPlayers;
};

class EachFault : public ChaosLoad, public ::testing::WithParamInterface<ChaosFault> {};

// The fault's name in letters and digits only.
std::string FaultName(const ::testing::TestParamInfo<ChaosFault>& fault) {
    std::string name;
    for (const char* letter = ChaosFaultName(fault.param); *letter != '\0'; ++letter) {
        if (std::isalnum(static_cast<unsigned char>(*letter))) {
            name += *letter;
        }
    }
    return name;
}

}  // namespace

TEST_P(EachFault, LeavesEveryFrameBetweenWellBehavedPlayersDeliveredOnce) {
    options.chaosFaults = {GetParam()};
    Join(4, 3);
    Run(1500);
    ASSERT_TRUE(Drain());
    ExpectCleanChecks();

    const ChaosTally& tally = session->Tally();
    EXPECT_GT(tally.faults[static_cast<std::size_t>(GetParam())], 0u);
    EXPECT_GT(session->Check().Counts().fromChaos, 0u);
    switch (GetParam()) {
        case ChaosFault::LeaveMessage:
            EXPECT_GT(tally.endedAfterLeave, 0u);
            EXPECT_GT(tally.reconnections, 0u);
            break;
        case ChaosFault::ShutdownSending:
            EXPECT_GT(tally.endedAfterHalfClose, 0u);
            EXPECT_GT(tally.reconnections, 0u);
            break;
        case ChaosFault::ResetMidFrame:
        case ChaosFault::CloseInOrder:
        case ChaosFault::Flood:
            EXPECT_GT(tally.reconnections, 0u);
            break;
        default:
            EXPECT_GT(session->Check().Counts().readByChaos, 0u);
            break;
    }
    // Every connection the misbehaving players ended, the relay removes, once it has seen the
    // end of each.
    EXPECT_TRUE(
        harness.RunPassesUntil([&] { return harness.ConsoleCount(" left.") >= tally.departures; }));
    EXPECT_EQ(harness.ConsoleCount(" left."), tally.departures);
}

INSTANTIATE_TEST_SUITE_P(ChaosLoad, EachFault, ::testing::ValuesIn(AllChaosFaults()), FaultName);

TEST_F(ChaosLoad, ReaderThatStopsForGoodIsDroppedByTheRelayOnceFloodsFillItsOutput) {
    tick = 100;
    options.chaosFaults = {ChaosFault::StopReading, ChaosFault::Flood};
    Join(3, 8);
    std::size_t mostKept = 0;
    for (int pass = 0; pass < 1000000 && session->Tally().droppedStoppedReaders == 0; ++pass) {
        // Once a reader stops for good, the players' time slows down, so that the floods relay
        // far more than the bound, one frame per pass, before it gives up waiting, however many
        // passes a loaded machine leaves without input.
        if (std::any_of(misbehavingPlayers.begin(), misbehavingPlayers.end(),
                        [](const ChaosPlayer* player) { return player->StoppedForGood(); })) {
            tick = 10;
        }
        Step(true);
        for (const auto& [id, player] : harness.state.registry) {
            mostKept = std::max(mostKept, player.endpoint->KeptOutput());
        }
    }
    EXPECT_GT(session->Tally().droppedStoppedReaders, 0u);
    // Dropped for passing the bound on its output, not sooner; the kept output is seen after
    // each pass, which may have relayed a frame from every flooder.
    EXPECT_GT(mostKept, KEPT_OUTPUT_LIMIT - 16 * MAX_FRAME_SIZE);
    ASSERT_TRUE(Drain());
    ExpectCleanChecks();
}

TEST_F(ChaosLoad, AllFaultsTogetherLeaveTheChecksClean) {
    Join(6, 6);
    Run(3000);
    ASSERT_TRUE(Drain());
    ExpectCleanChecks();
    EXPECT_GT(session->Tally().FaultsInjected(), 20u);
}

TEST_F(ChaosLoad, RelayThatDropsAFrameFailsTheCheck) {
    Frame frame;
    ASSERT_TRUE(StartAndIntercept(frame));
    Run(50);
    EXPECT_FALSE(Drain(1));
    EXPECT_EQ(session->Check().Counts().Missing(), 1u);
    EXPECT_EQ(session->Check().Counts().corrupted, 0u);
}

TEST_F(ChaosLoad, RelayThatChangesAByteFailsTheCheck) {
    Frame frame;
    ASSERT_TRUE(StartAndIntercept(frame));
    frame.value.back() = static_cast<char>(frame.value.back() ^ 0x20);
    ASSERT_EQ(SendFrame(*harness.Endpoint(frame.target), frame), 0);
    Run(50);
    EXPECT_FALSE(Drain(1));
    EXPECT_EQ(session->Check().Counts().corrupted, 1u);
    EXPECT_EQ(session->Check().Counts().Missing(), 1u);
}

TEST_F(ChaosLoad, FrameChangedOnItsWayToAMisbehavingReaderFailsTheCheck) {
    options.chaosFaults = {ChaosFault::UnknownTarget};
    Join(3, 2);
    Run(50);
    const std::uint64_t corruptedBefore = session->Check().Counts().corrupted;
    PlayerId reader = 0;
    for (PlayerId id = FIRST_PLAYER_ID; id < FIRST_PLAYER_ID + 5; ++id) {
        bool steady = false;
        for (const LoadPlayer& player : session->Steady()) {
            steady = steady || player.id == id;
        }
        if (!steady && harness.Endpoint(id) != nullptr) {
            reader = id;
        }
    }
    ASSERT_NE(reader, 0);
    Frame changed = EncodeLoadFrame(LoadFrame{2, 1, reader, 0, true});
    ASSERT_GT(changed.value.size(), STAMP_SIZE);
    changed.value[STAMP_SIZE] = static_cast<char>(changed.value[STAMP_SIZE] ^ 0x01);
    ASSERT_EQ(SendFrame(*harness.Endpoint(reader), changed), 0);
    EXPECT_TRUE(
        StepUntil([&] { return session->Check().Counts().corrupted > corruptedBefore; }, true));
    EXPECT_EQ(session->Check().Counts().corrupted, corruptedBefore + 1);
}
