#pragma once

#include "net/NetSocket.h"
#include "server/HttpRequestReader.h"
#include "server/SteadyClock.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ServerState;

// The metrics served over HTTP on a TCP listener of their own: GET /metrics answers the
// server's counts in Prometheus' text format; any other request is answered 404 or 400. Each
// connection gets one answer and is closed. Served between passes without waiting, with bounds
// that no scraper can pass: MAX_SCRAPERS connections at once (more are closed as they come), a
// request head of HttpRequestReader::HEAD_LIMIT bytes, and IDLE_LIMIT without a byte from the
// scraper or to it.
class MetricsEndpoint {
public:
    static constexpr std::size_t MAX_SCRAPERS = 8;
    static constexpr std::chrono::seconds IDLE_LIMIT{2};

    // Listens on `address` (dotted IPv4) and `port`; 1 with `problem` set when it cannot.
    int Open(const std::string& address, std::uint16_t port, std::string& problem);
    bool IsOpen() const { return listener.IsOpen(); }
    std::uint16_t Port() const { return listener.LocalPort(); }
    // Takes new scrapers, reads their requests and answers those that are complete.
    void Serve(const ServerState& state);
    // The listener and the connections whose requests are still being read.
    void AddWaitedSockets(std::vector<sockets::SocketHandle>& sockets) const;
    // True while a scraper is connected: its answer may wait for room and its idle time runs.
    bool HasScrapers() const { return !scrapers.empty(); }
    void Close();

private:
    struct Scraper {
        std::unique_ptr<NetSocket> connection;
        HttpRequestReader request;
        SteadyClock::time_point lastActivity;
        bool answered = false;
    };

    void AcceptScrapers();
    // False once the scraper is done with: answered and written, gone, or idle too long.
    bool ServeScraper(Scraper& scraper, const ServerState& state, SteadyClock::time_point now);

    NetSocket listener;
    std::vector<Scraper> scrapers;
};
