#include "server/ControlChannel.h"

#include "server/MetricsText.h"
#include "server/OperatorCommands.h"
#include "server/ServerState.h"

#include <algorithm>

namespace {

constexpr int ACCEPTS_PER_CALL = 8;
constexpr std::string_view ANSWER_END = "\n";

bool IsMetricsCommand(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.remove_suffix(1);
    }
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        line.remove_prefix(1);
    }
    return line == "metrics";
}

}  // namespace

int ControlChannel::Open(const std::string& path, std::string& problem) {
    if (listener.Listen(path) != 0) {
        problem = "cannot open the control socket: " + listener.Failure();
        return 1;
    }
    return 0;
}

CommandResult ControlChannel::Serve(ServerState& state) {
    CommandResult result = CommandResult::Continue;
    if (!listener.IsOpen()) {
        return result;
    }
    const auto now = SteadyClock::now();
    // Idle connections go before new ones are taken, so that their places are free.
    std::erase_if(connections, [&](const Connection& connection) {
        return now - connection.lastActivity >= IDLE_LIMIT;
    });
    AcceptConnections();
    std::erase_if(connections, [&](Connection& connection) {
        return result == CommandResult::Continue &&
               !ServeConnection(connection, state, now, result);
    });
    return result;
}

void ControlChannel::AcceptConnections() {
    for (int accepted = 0; accepted < ACCEPTS_PER_CALL; ++accepted) {
        std::unique_ptr<LocalStream> stream = listener.Accept();
        if (!stream) {
            return;
        }
        // Past the bound the connection is closed at once.
        if (connections.size() < MAX_CONNECTIONS) {
            connections.push_back(Connection{std::move(stream), {}, {}, SteadyClock::now(), false});
        }
    }
}

bool ControlChannel::ServeConnection(Connection& connection, ServerState& state,
                                     SteadyClock::time_point now, CommandResult& result) {
    LocalStream& stream = *connection.stream;
    // Reads no further than one line past the bound, so that a connection that never ends a
    // line costs no more than that.
    while (!connection.inputEnded && connection.input.size() <= LINE_LIMIT) {
        char bytes[LINE_LIMIT + 1];
        const std::size_t room = std::min(sizeof bytes, LINE_LIMIT + 1 - connection.input.size());
        const LocalIo received = stream.Receive(bytes, room, 0);
        if (received.status == LocalIoStatus::Failed) {
            return false;
        }
        if (received.status == LocalIoStatus::Closed) {
            connection.inputEnded = true;
        }
        if (received.status != LocalIoStatus::Done) {
            break;
        }
        connection.input.append(bytes, received.bytes);
        connection.lastActivity = now;
    }
    for (std::size_t end = connection.input.find('\n'); end != std::string::npos;
         end = connection.input.find('\n')) {
        const std::string line = connection.input.substr(0, end);
        connection.input.erase(0, end + 1);
        if (IsMetricsCommand(line)) {
            connection.output += MetricsText(state);
        } else {
            CommandAnswer answer(connection.output);
            if (RunOperatorCommand(state, line, answer) == CommandResult::Quit) {
                result = CommandResult::Quit;
            }
        }
        connection.output += ANSWER_END;
        if (result == CommandResult::Quit || connection.output.size() > OUTPUT_LIMIT) {
            break;
        }
    }
    // A line longer than the bound is never carried out.
    if (connection.input.size() > LINE_LIMIT || connection.output.size() > OUTPUT_LIMIT) {
        return false;
    }
    while (!connection.output.empty()) {
        const LocalIo sent = stream.Send(connection.output.data(), connection.output.size());
        if (sent.status == LocalIoStatus::Closed || sent.status == LocalIoStatus::Failed) {
            return false;
        }
        if (sent.status == LocalIoStatus::WouldBlock || sent.bytes == 0) {
            break;
        }
        connection.output.erase(0, sent.bytes);
        connection.lastActivity = now;
    }
    if (connection.inputEnded && connection.output.empty()) {
        return false;
    }
    return now - connection.lastActivity < IDLE_LIMIT;
}

void ControlChannel::AddWaitedSockets(std::vector<sockets::SocketHandle>& sockets) const {
    const std::vector<sockets::SocketHandle> listening = listener.Handles();
    sockets.insert(sockets.end(), listening.begin(), listening.end());
    // A connection whose input has ended stays readable; it is served at the pace of its
    // answer, not woken for.
    for (const Connection& connection : connections) {
        if (!connection.inputEnded) {
            sockets.push_back(connection.stream->Handle());
        }
    }
}

void ControlChannel::Close() {
    connections.clear();
    listener.Close();
}
