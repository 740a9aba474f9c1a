#include "tools/load/ServerWatch.h"

#include "sync/Clock.h"

#include <algorithm>

namespace {

constexpr unsigned LISTEN_TIMEOUT_MS = 5000;
constexpr const char* LISTENING = "Created a listing socket at port";
constexpr const char* NOT_LISTENING = "Failed to create a listening socket";
constexpr const char* ADMITTED = "New connection from ";
constexpr const char* LEFT = " left.";

}  // namespace

bool ServerWatch::Spawn(const std::string& path, std::uint16_t port, std::string& error,
                        const std::vector<std::string>& arguments) {
    std::vector<std::string> words{"--port", std::to_string(port)};
    words.insert(words.end(), arguments.begin(), arguments.end());
    if (!child.Start(path, words)) {
        error = "could not start " + path + ": " + child.StartFailure();
        return false;
    }
    pid = child.Pid();
    spawned = true;
    const std::uint32_t start = TickCount();
    std::string output;
    while (output.find(LISTENING) == std::string::npos) {
        int status = 0;
        if (child.Ended(status) || output.find(NOT_LISTENING) != std::string::npos ||
            TickCount() - start > LISTEN_TIMEOUT_MS) {
            error =
                path + " did not start listening on port " + std::to_string(port) + ": " + output;
            return false;
        }
        SleepMilliseconds(10);
        child.ReadOutput(output);
    }
    Sample();
    return true;
}

void ServerWatch::Attach(long serverPid) {
    pid = serverPid;
    Sample();
}

std::int64_t ServerWatch::ProcessorTime() const {
    return Watching() && !gone ? ProcessorMicros(pid) : -1;
}

void ServerWatch::Sample() {
    if (!Watching() || gone) {
        return;
    }
    if (spawned) {
        TakeConsole();
        int status = 0;
        if (child.Ended(status)) {
            gone = true;
            ending = "the server ended with status " + std::to_string(status);
            return;
        }
    }
    const long kib = ResidentKib(pid);
    if (kib < 0) {
        gone = true;
        ending = "the server process " + std::to_string(pid) + " is gone";
        return;
    }
    if (startKib < 0) {
        startKib = kib;
    }
    highestKib = std::max(highestKib, kib);
}

void ServerWatch::TakeConsole() {
    child.ReadOutput(console);
    std::size_t lineStart = 0;
    for (std::size_t end = console.find('\n'); end != std::string::npos;
         end = console.find('\n', lineStart)) {
        const std::string_view line(console.data() + lineStart, end - lineStart);
        if (line.rfind(ADMITTED, 0) == 0) {
            ++admissions;
        } else if (line.size() >= 6 && line.substr(line.size() - 6) == LEFT) {
            ++departures;
        }
        lineStart = end + 1;
    }
    console.erase(0, lineStart);
}
