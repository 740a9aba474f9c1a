// The metrics endpoint's request reader: whole heads in any pieces, and its bounds.

#include "server/HttpRequestReader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using State = HttpRequestReader::State;

constexpr std::string_view SCRAPE =
    "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:9100\r\nUser-Agent: Prometheus/2.45\r\n"
    "Accept: text/plain;version=0.0.4\r\n\r\n";

TEST(HttpRequestReader, AHeadSplitAnywhereCompletesOnlyAtItsEnd) {
    for (std::size_t split = 0; split <= SCRAPE.size(); ++split) {
        HttpRequestReader reader;
        const State first = reader.Add(SCRAPE.substr(0, split));
        EXPECT_EQ(first, split == SCRAPE.size() ? State::Complete : State::Incomplete) << split;
        EXPECT_EQ(reader.Add(SCRAPE.substr(split)), State::Complete) << split;
        EXPECT_EQ(reader.Method(), "GET");
        EXPECT_EQ(reader.Target(), "/metrics");
    }
    // One byte at a time, with bare line feeds and an HTTP/1.0 request line.
    HttpRequestReader reader;
    const std::string plain = "GET /other?x=1 HTTP/1.0\nHost: a\n\n";
    for (std::size_t at = 0; at < plain.size(); ++at) {
        EXPECT_EQ(reader.Add(plain.substr(at, 1)),
                  at + 1 == plain.size() ? State::Complete : State::Incomplete);
    }
    EXPECT_EQ(reader.Target(), "/other?x=1");
    // What follows a complete head changes nothing.
    EXPECT_EQ(reader.Add("garbage\r\n\r\n"), State::Complete);
    EXPECT_EQ(reader.Target(), "/other?x=1");
}

TEST(HttpRequestReader, MalformedHeadsAreToldApart) {
    for (const char* head :
         {"GET /metrics\r\n\r\n", "GET /metrics HTTP/2.0\r\n\r\n", "GET  /metrics HTTP/1.1\r\n\r\n",
          "GET /metrics HTTP/1.1 x\r\n\r\n", "G(T /metrics HTTP/1.1\r\n\r\n", "\r\n\r\n",
          "GET /metrics HTTP/1.1\r\nno colon here\r\n\r\n",
          "GET /metrics HTTP/1.1\r\n folded: header\r\n\r\n",
          "GET /met\x01rics HTTP/1.1\r\n\r\n"}) {
        HttpRequestReader reader;
        EXPECT_EQ(reader.Add(head), State::Malformed) << head;
        // The verdict stands whatever comes after.
        EXPECT_EQ(reader.Add("GET /metrics HTTP/1.1\r\n\r\n"), State::Malformed) << head;
    }
}

TEST(HttpRequestReader, AHeadOfTheBoundIsReadAndOneByteMoreIsTooLarge) {
    const std::string start = "GET /metrics HTTP/1.1\r\nX-Fill: ";
    const std::string end = "\r\n\r\n";
    const std::string fill(HttpRequestReader::HEAD_LIMIT - start.size() - end.size(), 'f');

    HttpRequestReader atBound;
    EXPECT_EQ(atBound.Add(start + fill), State::Incomplete);
    EXPECT_EQ(atBound.Add(end), State::Complete);

    HttpRequestReader pastBound;
    EXPECT_EQ(pastBound.Add(start + fill + "f"), State::Incomplete);
    EXPECT_EQ(pastBound.Add(end), State::TooLarge);

    // A sender that never ends a line is cut off at the bound, however much it sends.
    HttpRequestReader endless;
    const std::string chunk(1000, 'x');
    State state = State::Incomplete;
    int chunks = 0;
    while (state == State::Incomplete && chunks < 100) {
        state = endless.Add(chunk);
        ++chunks;
    }
    EXPECT_EQ(state, State::TooLarge);
    EXPECT_EQ(chunks, 9);
}

}  // namespace
