// The real binary's metrics scraped with curl while players relay.

#include "testing/LoopbackClient.h"
#include "tests/binary/ConsoleText.h"
#include "tests/binary/RelayScene.h"
#include "tests/binary/ServerOnPort.h"
#include "tests/support/CommandRun.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <sstream>

namespace {

// A port for the metrics below the range the system hands out to clients, chosen at random.
std::uint16_t RandomMetricsPort() {
    std::mt19937 random(std::random_device{}());
    return static_cast<std::uint16_t>(std::uniform_int_distribution<int>(20000, 32767)(random));
}

// The value of the sample `name` (with its labels, as printed) in a scrape.
std::optional<double> Sample(const std::string& scrape, const std::string& name) {
    std::istringstream lines(scrape);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(name + " ")) {
            return std::stod(line.substr(name.size() + 1));
        }
    }
    return std::nullopt;
}

class MetricsScrape : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CommandExists("curl")) {
            GTEST_SKIP() << "curl is not installed (scripts/dependencies --install brings it)";
        }
        // A metrics port that is taken ends the server at once; another is tried.
        for (int attempt = 0; attempt < 10 && !server; ++attempt) {
            metricsPort = RandomMetricsPort();
            server = StartOnPort({"--metrics", std::to_string(metricsPort)}, port);
        }
        ASSERT_NE(server, nullptr);
    }

    // curl's output for `url`, its exit status, and with `-w` the HTTP status at the end.
    CommandRun Curl(const std::vector<std::string>& options, const std::string& target) {
        std::vector<std::string> argv = {"curl", "--silent", "--max-time", "10"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back("http://127.0.0.1:" + std::to_string(metricsPort) + target);
        return RunCommand(argv, WAIT_MS).value_or(CommandRun{});
    }

    std::string Scrape() {
        const CommandRun run = Curl({"--fail"}, "/metrics");
        EXPECT_EQ(run.status, 0);
        return run.output;
    }

    std::unique_ptr<ServerProcess> server;
    std::uint16_t port = 0;
    std::uint16_t metricsPort = 0;
};

TEST_F(MetricsScrape, CountersMoveAsPlayersRelay) {
    const std::string idle = Scrape();
    EXPECT_EQ(Sample(idle, "vor_server_players"), 0.0) << idle;
    EXPECT_EQ(Sample(idle, "vor_server_messages_relayed_total"), 0.0);
    const double passesBefore = Sample(idle, "vor_server_passes_total").value_or(-1);
    EXPECT_GT(passesBefore, 0.0);

    LoopbackClient two(port);
    ASSERT_EQ(two.ReadGreeting(WAIT_MS), 2);
    LoopbackClient three(port);
    ASSERT_EQ(three.ReadGreeting(WAIT_MS), 3);
    constexpr int FRAMES = 20;
    for (int frame = 0; frame < FRAMES; ++frame) {
        ASSERT_TRUE(two.SendFrame(7, 3, "relayed " + std::to_string(frame)));
        ASSERT_TRUE(three.ReadFrame(WAIT_MS).has_value());
    }
    const std::string busy = Scrape();
    EXPECT_EQ(Sample(busy, "vor_server_players"), 2.0) << busy;
    EXPECT_EQ(Sample(busy, "vor_server_players_max"), 2.0);
    EXPECT_EQ(Sample(busy, "vor_server_admitted_total"), 2.0);
    EXPECT_EQ(Sample(busy, "vor_server_messages_received_total"), FRAMES);
    EXPECT_EQ(Sample(busy, "vor_server_messages_relayed_total"), FRAMES);
    // Frames of 4 header bytes and "relayed N": ten of one digit, ten of two.
    EXPECT_EQ(Sample(busy, "vor_server_relayed_bytes_total"), 10 * 13 + 10 * 14);
    const double passes = Sample(busy, "vor_server_passes_total").value_or(-1);
    EXPECT_GT(passes, passesBefore);
    EXPECT_EQ(Sample(busy, "vor_server_pass_duration_seconds_count"), passes);
    EXPECT_EQ(Sample(busy, "vor_server_pass_duration_seconds_bucket{le=\"+Inf\"}"), passes);

    two.Close();
    ASSERT_TRUE(server->WaitForOutput(LeftLine(2), WAIT_MS));
    const std::string after = Scrape();
    EXPECT_EQ(Sample(after, "vor_server_players"), 1.0);
    EXPECT_EQ(Sample(after, "vor_server_players_max"), 2.0);
    EXPECT_EQ(Sample(after, "vor_server_removed_total{cause=\"gone\"}"), 1.0);
}

TEST_F(MetricsScrape, OtherRequestsAreRefusedAndTheServerGoesOn) {
    const CommandRun missing = Curl({"--write-out", "%{http_code}", "--output", "/dev/null"}, "/");
    EXPECT_EQ(missing.output, "404");
    const CommandRun posted =
        Curl({"--write-out", "%{http_code}", "--output", "/dev/null", "--data", "x"}, "/metrics");
    EXPECT_EQ(posted.output, "400");
    const CommandRun oversized = Curl({"--write-out", "%{http_code}", "--output", "/dev/null",
                                       "--header", "X-Fill: " + std::string(9000, 'f')},
                                      "/metrics");
    EXPECT_EQ(oversized.output, "400");
    // The server goes on serving players and scrapes.
    LoopbackClient two(port);
    EXPECT_EQ(two.ReadGreeting(WAIT_MS), 2);
    EXPECT_EQ(Sample(Scrape(), "vor_server_admitted_total"), 1.0);
}

}  // namespace
