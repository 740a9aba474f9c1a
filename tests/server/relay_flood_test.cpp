// A player that sends faster than the server serves it: its input is bounded.

#include "server/Players.h"
#include "tests/server/RelayBounds.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

class RelayFlood : public RelayBounds {
public:
    // Closing the flooder's connection with its input unread resets it, which ends the writer.
    void StopFlooder(std::thread& writer) {
        const auto entry = relay.state.registry.find(5);
        if (entry != relay.state.registry.end()) {
            RemovePlayer(relay.state, entry, Departure::Kicked);
        }
        if (writer.joinable()) {
            writer.join();
        }
    }
};

TEST_F(RelayFlood, FloodingPlayerIsHeldToTheReceiveLimitWhileOthersRelay) {
    // Player 5 writes 32 MB of numbered messages to the server as fast as it can; the server
    // shows each one, so the console proves that none is lost or cut. Each of them ends the
    // pass, so the flooder is the last player, and players 2 and 3 talk meanwhile.
    relay.state.options.displayMessages = true;
    constexpr std::size_t FLOOD_BYTES = 32u << 20;
    constexpr std::uint32_t FRAMES_PER_WRITE = 64;
    std::atomic<std::size_t> written{0};
    std::thread writer([&] {
        std::uint32_t sequence = 0;
        while (written < FLOOD_BYTES) {
            std::vector<std::uint8_t> batch;
            for (std::uint32_t i = 0; i < FRAMES_PER_WRITE; ++i) {
                const auto frame = EncodeTestFrame(1, SERVER_ID, NumberedValue(sequence++));
                batch.insert(batch.end(), frame.begin(), frame.end());
            }
            if (!Player(5).SendBytes(batch)) {
                return;
            }
            written += batch.size();
        }
    });
    // Joins the writer on every way out of the test, failed assertions included.
    struct JoinOnExit {
        RelayFlood& test;
        std::thread& thread;
        ~JoinOnExit() { test.StopFlooder(thread); }
    } joinOnExit{*this, writer};

    // Runs until the flooder has been held at the server's bound for enough passes to take
    // its buffer round several times over, however slowly the passes or the writer run.
    constexpr std::uint32_t HELD_PASSES = 2000;
    const auto deadline = std::chrono::steady_clock::now() + TEST_TIME_LIMIT;
    std::size_t mostBuffered = 0;
    std::uint32_t pass = 0;
    std::uint32_t heldPasses = 0;
    while (heldPasses < HELD_PASSES && std::chrono::steady_clock::now() < deadline) {
        relay.RunPass();
        ++pass;
        mostBuffered = std::max<std::size_t>(mostBuffered, relay.Endpoint(5)->BufferedBytes());
        ASSERT_LE(mostBuffered, PLAYER_RECEIVE_LIMIT) << "pass " << pass;
        // A pass fills the buffer to the limit and then takes one frame of at most this size.
        if (mostBuffered >= PLAYER_RECEIVE_LIMIT - MAX_FRAME_SIZE) {
            ++heldPasses;
        }
        if (pass % 500 == 0) {
            ASSERT_NO_FATAL_FAILURE(ExpectRelayBetween(2, 3, pass));
        }
    }
    ASSERT_EQ(heldPasses, HELD_PASSES)
        << "after " << pass << " passes the flooder's input peaked at " << mostBuffered
        << " bytes with " << written << " written";
    StopFlooder(writer);

    const std::string console = relay.Console();
    const std::string marker = "Value \t= ";
    std::uint32_t shown = 0;
    for (auto position = console.find(marker); position != std::string::npos;
         position = console.find(marker, position + 1)) {
        const std::string expected = NumberedValue(shown) + " (255)\n";
        ASSERT_EQ(console.compare(position + marker.size(), expected.size(), expected), 0)
            << "message " << shown;
        ++shown;
    }
    // The flooder was served all along, not only held back.
    EXPECT_GT(shown, pass / 2);
    EXPECT_EQ(relay.ConsoleCount("Received a message.\n"), shown);
    EXPECT_EQ(relay.ConsoleCount("From \t= 5\n"), shown);
}

}  // namespace
