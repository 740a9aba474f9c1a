#include "tests/binary/ServerOnPort.h"

#include "tests/binary/ConsoleText.h"

#include <random>

namespace {

constexpr int ATTEMPTS = 20;
constexpr int LISTEN_WAIT_MS = 10000;

}  // namespace

std::uint16_t RandomTestPort() {
    static std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> choose(20000, 32767);
    return static_cast<std::uint16_t>(choose(random));
}

std::string CommandLineTranscript(const std::string& portText) {
    return std::string(BANNER) + "Done. Created a listing socket at port " + portText + ".\n\n";
}

std::unique_ptr<ServerProcess> StartOnPort(const std::vector<std::string>& arguments,
                                           std::uint16_t& port) {
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        port = RandomTestPort();
        std::vector<std::string> command = arguments;
        command.push_back("--port");
        command.push_back(std::to_string(port));
        auto server = std::make_unique<ServerProcess>(std::vector<std::string>{}, command);
        const std::string expected = CommandLineTranscript(std::to_string(port));
        if (server->WaitForOutputSize(expected.size(), LISTEN_WAIT_MS) == expected) {
            return server;
        }
        if (server->Output().find("Failed to create a listening socket") == std::string::npos) {
            return nullptr;
        }
    }
    return nullptr;
}
