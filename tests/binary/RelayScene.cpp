#include "tests/binary/RelayScene.h"

#include "tests/binary/ConsoleText.h"

#include <algorithm>
#include <cctype>

void RelayScene::Start(bool display) {
    port = server.StartListening(display);
    ASSERT_NE(port, 0) << server.Output();
    expectedConsole = ListeningTranscript(std::to_string(port));
    ASSERT_EQ(server.WaitForOutputSize(expectedConsole.size()), expectedConsole);
}

LoopbackClient& RelayScene::Join(std::uint16_t expectedId) {
    auto& slot = players[expectedId];
    slot = std::make_unique<LoopbackClient>(port);
    LoopbackClient& client = *slot;
    EXPECT_TRUE(client.Connected());
    const std::optional<Frame> idFrame = client.ReadFrame(WAIT_MS);
    const std::optional<Frame> clockFrame = client.ReadFrame(WAIT_MS);
    EXPECT_EQ(idFrame, (Frame{0, expectedId, std::to_string(expectedId)}));
    EXPECT_TRUE(clockFrame.has_value());
    if (clockFrame) {
        EXPECT_EQ(clockFrame->id, 0);
        EXPECT_EQ(clockFrame->target, expectedId);
        const std::string& digits = clockFrame->value;
        const std::size_t first = digits.starts_with('-') ? 1 : 0;
        EXPECT_GT(digits.size(), first) << "empty clock value";
        EXPECT_TRUE(std::all_of(digits.begin() + static_cast<long>(first), digits.end(),
                                [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            << digits;
    }
    ExpectConsole(ConnectionLine(expectedId));
    return client;
}

void RelayScene::StartWithPlayers(bool display, int count) {
    ASSERT_NO_FATAL_FAILURE(Start(display));
    for (int index = 0; index < count; ++index) {
        Join(static_cast<std::uint16_t>(FIRST_ID + index));
        ASSERT_FALSE(HasFailure());
    }
}

LoopbackClient& RelayScene::Player(std::uint16_t id) {
    return *players.at(id);
}

void RelayScene::ExpectConsole(const std::string& more) {
    expectedConsole += more;
    EXPECT_EQ(server.WaitForOutputSize(expectedConsole.size(), WAIT_MS), expectedConsole);
}

bool RelayScene::ConsoleAlreadyHas(const std::string& text) {
    return server.Output().find(text) != std::string::npos;
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (const int value : values) {
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

std::vector<Frame> ReadFramesUntilSeen(LoopbackClient& client, const std::vector<Frame>& wanted) {
    std::vector<Frame> frames;
    const auto allSeen = [&] {
        return std::all_of(wanted.begin(), wanted.end(), [&](const Frame& frame) {
            return std::find(frames.begin(), frames.end(), frame) != frames.end();
        });
    };
    while (!allSeen()) {
        const std::optional<Frame> frame = client.ReadFrame(WAIT_MS);
        if (!frame) {
            break;
        }
        frames.push_back(*frame);
    }
    return frames;
}
