// The metrics endpoint in this process: its answers, the counts it shows, and its bounds.

#include "server/MetricsEndpoint.h"
#include "server/OperatorChannels.h"
#include "testing/RelayHarness.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class MetricsEndpointTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(harness.Listening());
        std::string problem;
        ASSERT_EQ(harness.state.channels.metrics.Open("127.0.0.1", 0, problem), 0) << problem;
        port = harness.state.channels.metrics.Port();
    }

    std::unique_ptr<LoopbackClient> Scraper(const std::string& request) {
        auto client = std::make_unique<LoopbackClient>(port);
        EXPECT_TRUE(client->Connected());
        EXPECT_TRUE(request.empty() || client->SendBytes(request.data(), request.size()));
        return client;
    }

    // Serves passes until the server has closed `client`; everything it was sent.
    std::string ResponseServing(LoopbackClient& client, bool& closed) {
        std::vector<std::uint8_t> received;
        closed = harness.RunPassesUntil([&] {
            ServeOperatorChannels(harness.state);
            return !client.ReadAvailable(received);
        });
        return std::string(received.begin(), received.end());
    }

    std::string Response(const std::string& request) {
        auto client = Scraper(request);
        bool closed = false;
        const std::string response = ResponseServing(*client, closed);
        EXPECT_TRUE(closed);
        return response;
    }

    RelayHarness harness;
    std::uint16_t port = 0;
};

TEST_F(MetricsEndpointTest, OnlyGetMetricsIsAnsweredWithTheCounts) {
    PlayerId id = 0;
    auto player = harness.Join(id);
    ASSERT_NE(player, nullptr);
    const std::string scrape = Response("GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(scrape.starts_with("HTTP/1.1 200 OK\r\n")) << scrape;
    EXPECT_NE(scrape.find("Content-Type: text/plain; version=0.0.4"), std::string::npos);
    const std::size_t body = scrape.find("\r\n\r\n") + 4;
    EXPECT_NE(scrape.find("Content-Length: " + std::to_string(scrape.size() - body) + "\r\n"),
              std::string::npos);
    EXPECT_NE(scrape.find("\nvor_server_players 1\n"), std::string::npos) << scrape;
    EXPECT_NE(scrape.find("\nvor_server_admitted_total 1\n"), std::string::npos);
    EXPECT_NE(scrape.find("\nvor_server_pass_duration_seconds_bucket{le=\"+Inf\"} "),
              std::string::npos);

    EXPECT_TRUE(Response("GET /metric HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 404 "));
    EXPECT_TRUE(Response("GET / HTTP/1.0\r\n\r\n").starts_with("HTTP/1.1 404 "));
    EXPECT_TRUE(Response("POST /metrics HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 400 "));
    EXPECT_TRUE(Response("GET /metrics\r\n\r\n").starts_with("HTTP/1.1 400 "));
    const std::string huge = "GET /metrics HTTP/1.1\r\nX: " + std::string(9000, 'x') + "\r\n\r\n";
    EXPECT_TRUE(Response(huge).starts_with("HTTP/1.1 400 "));
}

TEST_F(MetricsEndpointTest, ScrapersPastTheCountAreClosedAndSilentOnesTimeOut) {
    std::vector<std::unique_ptr<LoopbackClient>> waiting;
    for (std::size_t index = 0; index < MetricsEndpoint::MAX_SCRAPERS; ++index) {
        // Half a request line: each holds its place.
        waiting.push_back(Scraper("GET /met"));
    }
    harness.RunPassesUntil([&] {
        ServeOperatorChannels(harness.state);
        return true;
    });
    bool closed = false;
    auto extra = Scraper("GET /metrics HTTP/1.1\r\n\r\n");
    EXPECT_EQ(ResponseServing(*extra, closed), "");
    EXPECT_TRUE(closed);

    // The first finishes its request and is answered; the rest, silent, are closed in time.
    ASSERT_TRUE(waiting[0]->SendBytes(std::string("rics HTTP/1.1\r\n\r\n").data(), 18));
    EXPECT_TRUE(ResponseServing(*waiting[0], closed).starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(closed);
    for (std::size_t index = 1; index < waiting.size(); ++index) {
        EXPECT_EQ(ResponseServing(*waiting[index], closed), "") << index;
        EXPECT_TRUE(closed) << index;
    }
    // With the places free again, a scrape is answered.
    EXPECT_TRUE(Response("GET /metrics HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 200 OK\r\n"));
}

}  // namespace
