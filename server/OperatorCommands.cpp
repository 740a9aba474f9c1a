#include "server/OperatorCommands.h"

#include "program/DecimalNumber.h"
#include "server/Players.h"

#include <chrono>
#include <cinttypes>

namespace {

using std::chrono::duration_cast;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The next blank-separated word of `line`, taken off its front.
std::string_view TakeWord(std::string_view& line) {
    while (!line.empty() && IsBlank(line.front())) {
        line.remove_prefix(1);
    }
    std::size_t end = 0;
    while (end < line.size() && !IsBlank(line[end])) {
        ++end;
    }
    const std::string_view word = line.substr(0, end);
    line.remove_prefix(end);
    return word;
}

std::uint64_t SecondsSince(SteadyClock::time_point start) {
    return static_cast<std::uint64_t>(
        duration_cast<std::chrono::seconds>(SteadyClock::now() - start).count());
}

void ListPlayers(ServerState& state, CommandAnswer& answer) {
    if (state.registry.empty()) {
        answer.Print("No players.\n");
        return;
    }
    for (const auto& [id, record] : state.registry) {
        const std::size_t kept = record.endpoint->KeptOutput();
        answer.Print("Player %u: %s, connected for %" PRIu64 " s, messages in %" PRIu64
                     ", out %" PRIu64 ", output kept %zu bytes.\n",
                     static_cast<unsigned>(id), record.address.c_str(),
                     SecondsSince(record.admittedAt), record.messagesIn, record.messagesOut, kept);
    }
}

void Kick(ServerState& state, std::string_view argument, CommandAnswer& answer) {
    std::uint64_t id = 0;
    if (!ParseDecimal(argument, LAST_PLAYER_ID, id) || id < FIRST_PLAYER_ID) {
        answer.Print("Usage: kick ID, with a player ID from 2 to 65535.\n");
        return;
    }
    const auto entry = state.registry.find(static_cast<PlayerId>(id));
    if (entry == state.registry.end()) {
        answer.Print("No player %u.\n", static_cast<unsigned>(id));
        return;
    }
    RemovePlayer(state, entry, Departure::Kicked);
    // The console has the departure line already; another destination is told it too.
    if (!answer.IsConsole(state.console)) {
        AnnounceDeparture(answer, static_cast<PlayerId>(id));
    }
}

void ShowStatistics(ServerState& state, CommandAnswer& answer) {
    const ServerStatistics& counts = state.statistics;
    const auto slowest = duration_cast<std::chrono::microseconds>(counts.slowestPass).count();
    answer.Print("Up for %" PRIu64 " s: %" PRIu64 " passes, the slowest %.3f ms.\n",
                 SecondsSince(counts.startedAt), counts.passes,
                 static_cast<double>(slowest) / 1000.0);
    answer.Print("Players: %zu now, %zu at most, %" PRIu64 " admitted, %" PRIu64
                 " refused, %" PRIu64 " removed for falling behind.\n",
                 state.registry.size(), counts.mostPlayers, counts.admitted, counts.refused,
                 counts.removedForFallingBehind);
    answer.Print("Messages: %" PRIu64 " in, %" PRIu64 " relayed (%" PRIu64 " bytes).\n",
                 counts.messagesIn, counts.messagesRelayed, counts.bytesRelayed);
}

void ShowHelp(CommandAnswer& answer) {
    answer.Print(
        "Commands:\n"
        "  players   one line per player: id, address, time connected, messages in and\n"
        "            out, output kept for it\n"
        "  kick ID   remove the player with this id\n"
        "  stats     uptime, passes, players and messages since the start\n"
        "  quit      stop the server cleanly\n"
        "  help      this list\n");
}

}  // namespace

CommandResult RunOperatorCommand(ServerState& state, std::string_view line, CommandAnswer& answer) {
    const std::string_view command = TakeWord(line);
    const std::string_view argument = TakeWord(line);
    const bool extraWords = !TakeWord(line).empty();
    if (command.empty()) {
        return CommandResult::Continue;
    }
    if (command == "kick") {
        Kick(state, extraWords ? std::string_view() : argument, answer);
    } else if (!argument.empty()) {
        answer.Print("Unknown command; type help for the list.\n");
    } else if (command == "players") {
        ListPlayers(state, answer);
    } else if (command == "stats") {
        ShowStatistics(state, answer);
    } else if (command == "quit") {
        return CommandResult::Quit;
    } else if (command == "help") {
        ShowHelp(answer);
    } else {
        answer.Print("Unknown command; type help for the list.\n");
    }
    return CommandResult::Continue;
}
