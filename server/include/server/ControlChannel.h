#pragma once

#include "net/LocalSocket.h"
#include "server/CommandResult.h"
#include "server/SteadyClock.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

struct ServerState;

// The operator's commands over a local socket: each line a connection sends is carried out as
// if typed at the console, plus `metrics`, and its answer is sent back followed by an empty
// line, which ends it. Served between passes without waiting, with bounds that no connection
// can pass: MAX_CONNECTIONS at once (more are closed as they come), command lines of at most
// LINE_LIMIT bytes (a longer one closes the connection) and IDLE_LIMIT without a byte from the
// connection or to it.
class ControlChannel {
public:
    static constexpr std::size_t MAX_CONNECTIONS = 4;
    static constexpr std::size_t LINE_LIMIT = 4 * 1024;
    static constexpr std::chrono::seconds IDLE_LIMIT{10};
    // Answers waiting for a connection that reads nothing are dropped past this.
    static constexpr std::size_t OUTPUT_LIMIT = 1024 * 1024;

    // Listens at `path`; 1 with `problem` set when it cannot.
    int Open(const std::string& path, std::string& problem);
    bool IsOpen() const { return listener.IsOpen(); }
    // Takes new connections and carries out the lines they sent. Quit when one was quit; its
    // answer, the empty one, is sent before the return.
    CommandResult Serve(ServerState& state);
    // The listener and the connections.
    void AddWaitedSockets(std::vector<sockets::SocketHandle>& sockets) const;
    // True while a connection is open: its answer may wait for room and its idle time runs.
    bool HasConnections() const { return !connections.empty(); }
    // Closes the connections and removes the socket.
    void Close();

private:
    struct Connection {
        std::unique_ptr<LocalStream> stream;
        std::string input;
        std::string output;
        SteadyClock::time_point lastActivity;
        bool inputEnded = false;
    };

    void AcceptConnections();
    // False once the connection is done with.
    bool ServeConnection(Connection& connection, ServerState& state, SteadyClock::time_point now,
                         CommandResult& result);

    LocalListener listener;
    std::vector<Connection> connections;
};
