#include "tests/binary/ServerOnPort.h"

#include "tests/binary/ConsoleText.h"
#include "tests/binary/RelayScene.h"

#include "testing/Deadline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

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

std::unique_ptr<LoopbackClient> JoinAs(ServerProcess& server, std::uint16_t port,
                                       std::uint16_t expectedId) {
    auto client = std::make_unique<LoopbackClient>(port);
    EXPECT_EQ(client->ReadGreeting(WAIT_MS), expectedId);
    EXPECT_TRUE(server.WaitForOutput(ConnectionLine(expectedId), WAIT_MS));
    return client;
}

std::string AnswerTo(ServerProcess& server, const std::string& command, std::size_t lines) {
    const std::size_t before = server.Output().size();
    server.WriteInput(command + "\n");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_MS);
    std::string answer = server.Output().substr(before);
    while (static_cast<std::size_t>(std::count(answer.begin(), answer.end(), '\n')) < lines &&
           RemainingMs(deadline) > 0) {
        server.WaitForOutputSize(before + answer.size() + 1, RemainingMs(deadline));
        answer = server.Output().substr(before);
    }
    return answer;
}
