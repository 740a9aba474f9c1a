#include "server/MetricsEndpoint.h"

#include "server/MetricsText.h"
#include "server/ServerState.h"

#include <algorithm>

namespace {

// New connections taken in one call, so that a flood of them cannot hold up a pass.
constexpr int ACCEPTS_PER_CALL = 16;

std::string Response(const char* status, const char* contentType, const std::string& body) {
    return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

std::string Answer(const HttpRequestReader& request, const ServerState& state) {
    if (request.Current() != HttpRequestReader::State::Complete || request.Method() != "GET") {
        return Response("400 Bad Request", "text/plain; charset=utf-8", "Bad request.\n");
    }
    const std::string& target = request.Target();
    const std::string path = target.substr(0, target.find('?'));
    if (path != "/metrics") {
        return Response("404 Not Found", "text/plain; charset=utf-8",
                        "Not found; the metrics are at /metrics.\n");
    }
    return Response("200 OK", "text/plain; version=0.0.4; charset=utf-8", MetricsText(state));
}

// Takes in and drops what the scraper sent past its request head, up to a bound: closing a
// socket with input unread resets the connection, and a reset can cost the scraper the answer.
void DropUnreadInput(NetSocket& connection) {
    constexpr int MOST_READS = 8;
    for (int read = 0; read < MOST_READS && connection.ReceiveInPlace() == 0; ++read) {
        const std::uint32_t buffered = connection.BufferedBytes();
        if (buffered == 0) {
            return;
        }
        connection.Discard(buffered);
    }
}

}  // namespace

int MetricsEndpoint::Open(const std::string& address, std::uint16_t port, std::string& problem) {
    if (listener.Open(NS_TCP | NS_SERVER, port, address.c_str()) != 0) {
        problem = "cannot serve metrics at " + address + ":" + std::to_string(port) + ": " +
                  listener.OpenFailure();
        return 1;
    }
    return 0;
}

void MetricsEndpoint::Serve(const ServerState& state) {
    if (!listener.IsOpen()) {
        return;
    }
    const auto now = SteadyClock::now();
    // Idle scrapers go before new ones are taken, so that their places are free.
    std::erase_if(scrapers,
                  [&](const Scraper& scraper) { return now - scraper.lastActivity >= IDLE_LIMIT; });
    AcceptScrapers();
    std::erase_if(scrapers, [&](Scraper& scraper) { return !ServeScraper(scraper, state, now); });
}

void MetricsEndpoint::AcceptScrapers() {
    for (int accepted = 0; accepted < ACCEPTS_PER_CALL; ++accepted) {
        std::unique_ptr<NetSocket> connection(listener.Accept());
        if (!connection) {
            return;
        }
        // Past the bound the connection is closed at once.
        if (scrapers.size() < MAX_SCRAPERS) {
            connection->SetReceiveLimit(HttpRequestReader::HEAD_LIMIT);
            scrapers.push_back(Scraper{std::move(connection), {}, SteadyClock::now(), false});
        }
    }
}

bool MetricsEndpoint::ServeScraper(Scraper& scraper, const ServerState& state,
                                   SteadyClock::time_point now) {
    NetSocket& connection = *scraper.connection;
    if (!scraper.answered) {
        if (connection.ReceiveInPlace() != 0) {
            return false;
        }
        char bytes[HttpRequestReader::HEAD_LIMIT];
        const std::uint32_t taken = connection.PeekUpTo(bytes, sizeof bytes);
        connection.Discard(taken);
        if (taken == 0) {
            if (connection.IsDisconnected()) {
                return false;
            }
        } else {
            scraper.lastActivity = now;
            scraper.request.Add(std::string_view(bytes, taken));
        }
        if (scraper.request.Current() != HttpRequestReader::State::Incomplete) {
            const std::string answer = Answer(scraper.request, state);
            if (connection.Send(answer.data(), static_cast<int>(answer.size()), 0, nullptr) != 0) {
                return false;
            }
            scraper.answered = true;
            scraper.lastActivity = now;
        }
    }
    if (scraper.answered) {
        const std::size_t before = connection.KeptOutput();
        if (connection.FlushKeptOutput() != 0) {
            return false;
        }
        if (connection.KeptOutput() == 0) {
            DropUnreadInput(connection);
            return false;
        }
        if (connection.KeptOutput() < before) {
            scraper.lastActivity = now;
        }
    }
    return now - scraper.lastActivity < IDLE_LIMIT;
}

void MetricsEndpoint::AddWaitedSockets(std::vector<sockets::SocketHandle>& sockets) const {
    if (listener.IsOpen()) {
        sockets.push_back(listener.Handle());
    }
    for (const Scraper& scraper : scrapers) {
        if (!scraper.answered) {
            sockets.push_back(scraper.connection->Handle());
        }
    }
}

void MetricsEndpoint::Close() {
    scrapers.clear();
    listener.Close();
}
