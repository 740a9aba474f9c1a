#include "tests/binary/ServerOnPort.h"

#include "tests/binary/ConsoleText.h"

std::string CommandLineTranscript(const std::string& portText) {
    return std::string(BANNER) + "Done. Created a listing socket at port " + portText + ".\n\n";
}

std::unique_ptr<ServerProcess> StartOnPort(const std::vector<std::string>& arguments,
                                           std::uint16_t& port) {
    auto server = std::make_unique<ServerProcess>();
    port = server->ListenWithPortOption(arguments);
    const std::string expected = CommandLineTranscript(std::to_string(port));
    if (port == 0 || server->WaitForOutputSize(expected.size()) != expected) {
        return nullptr;
    }
    return server;
}
