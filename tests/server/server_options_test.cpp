// The server's command line read into its options.

#include "server/ServerOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

OptionsResult Parse(std::vector<const char*> words, ServerOptions& options, std::string& problem) {
    words.insert(words.begin(), "vor-server");
    return ParseServerOptions(static_cast<int>(words.size()), words.data(), options, problem);
}

TEST(ServerOptions, NoArgumentsMeansTheDialogueWithNoLimits) {
    ServerOptions options;
    std::string problem;
    ASSERT_EQ(Parse({}, options, problem), OptionsResult::Serve);
    EXPECT_TRUE(options.askOperator);
    EXPECT_FALSE(options.displayMessages);
    EXPECT_EQ(options.bindAddress, "");
    EXPECT_EQ(options.maxPlayers, 0u);
    EXPECT_EQ(options.maxPerAddress, 0u);
    EXPECT_FALSE(options.fairTurns);
    EXPECT_FALSE(options.passInterval.has_value());
    EXPECT_EQ(options.messagesPerPass, 1u);
}

TEST(ServerOptions, EveryOptionInBothSpellings) {
    ServerOptions options;
    std::string problem;
    ASSERT_EQ(Parse({"--port=65535", "--display", "--bind", "10.0.0.255", "--max-players=65534",
                     "--max-per-address", "1", "--fair"},
                    options, problem),
              OptionsResult::Serve)
        << problem;
    EXPECT_FALSE(options.askOperator);
    EXPECT_EQ(options.port, 65535);
    EXPECT_TRUE(options.displayMessages);
    EXPECT_EQ(options.bindAddress, "10.0.0.255");
    EXPECT_FALSE(options.bindIpv6);
    EXPECT_EQ(options.maxPlayers, 65534u);
    EXPECT_EQ(options.maxPerAddress, 1u);
    EXPECT_TRUE(options.fairTurns);
}

TEST(ServerOptions, BindTakesAnIpv6LiteralAndTheLastBindWins) {
    ServerOptions options;
    std::string problem;
    ASSERT_EQ(Parse({"--bind=::1"}, options, problem), OptionsResult::Serve) << problem;
    EXPECT_EQ(options.bindAddress, "::1");
    EXPECT_TRUE(options.bindIpv6);

    ASSERT_EQ(Parse({"--bind", "127.0.0.1"}, options, problem), OptionsResult::Serve) << problem;
    EXPECT_EQ(options.bindAddress, "127.0.0.1");
    EXPECT_FALSE(options.bindIpv6);

    ASSERT_EQ(Parse({"--bind", "::ffff:127.0.0.1"}, options, problem), OptionsResult::Serve);
    EXPECT_TRUE(options.bindIpv6);
}

TEST(ServerOptions, LimitsAndPaceApplyToTheDialogueToo) {
    ServerOptions options;
    std::string problem;
    ASSERT_EQ(Parse({"--max-players", "3", "--bind", "127.0.0.1", "--pass-interval=0",
                     "--messages-per-pass", "64"},
                    options, problem),
              OptionsResult::Serve);
    EXPECT_TRUE(options.askOperator);
    EXPECT_EQ(options.maxPlayers, 3u);
    EXPECT_EQ(options.passInterval, 0u);
    EXPECT_EQ(options.messagesPerPass, 64u);
}

TEST(ServerOptions, TheOperatorsChannels) {
    ServerOptions options;
    std::string problem;
    ASSERT_EQ(Parse({"--control=/run/vor/4711.sock", "--metrics", "9100"}, options, problem),
              OptionsResult::Serve)
        << problem;
    EXPECT_EQ(options.controlPath, "/run/vor/4711.sock");
    // A port alone is served on loopback only.
    EXPECT_EQ(options.metricsAddress, "127.0.0.1");
    EXPECT_EQ(options.metricsPort, 9100);
    ASSERT_EQ(Parse({"--metrics=0.0.0.0:80"}, options, problem), OptionsResult::Serve);
    EXPECT_EQ(options.metricsAddress, "0.0.0.0");
    EXPECT_EQ(options.metricsPort, 80);

    ServerOptions none;
    ASSERT_EQ(Parse({"--port", "1"}, none, problem), OptionsResult::Serve);
    EXPECT_EQ(none.controlPath, "");
    EXPECT_EQ(none.metricsAddress, "");
}

TEST(ServerOptions, HelpAndVersionWinOverWhatFollows) {
    ServerOptions options;
    std::string problem;
    EXPECT_EQ(Parse({"--port", "1", "--help", "--bogus"}, options, problem),
              OptionsResult::ShowHelp);
    EXPECT_EQ(Parse({"-h"}, options, problem), OptionsResult::ShowHelp);
    EXPECT_EQ(Parse({"--version", "--port"}, options, problem), OptionsResult::ShowVersion);
}

TEST(ServerOptions, ValuesAtTheEdgesOfTheirRanges) {
    const std::vector<std::pair<std::vector<const char*>, bool>> cases = {
        {{"--port", "0"}, true},
        {{"--port", "65536"}, false},
        {{"--port", "-1"}, false},
        {{"--port", " 80"}, false},
        {{"--bind", "0.0.0.0"}, true},
        {{"--bind", "255.255.255.255"}, true},
        {{"--bind", "1.2.3"}, false},
        {{"--bind", "1.2.3.4."}, false},
        {{"--bind", "1..3.4"}, false},
        {{"--bind", "0001.2.3.4"}, false},
        {{"--bind", "::"}, true},
        {{"--bind", "2001:db8::1"}, true},
        {{"--bind", "[::1]"}, false},
        {{"--bind", "fe80::1%lo"}, false},
        {{"--bind", "1::2::3"}, false},
        {{"--bind", "::1:"}, false},
        {{"--max-players", "0"}, false},
        {{"--max-players", "1"}, true},
        {{"--max-per-address", "65535"}, false},
        {{"--display=yes"}, false},
        {{"--fair=1"}, false},
        {{"--pass-interval", "0"}, true},
        {{"--pass-interval", "1000"}, true},
        {{"--pass-interval", "1001"}, false},
        {{"--pass-interval", "-1"}, false},
        {{"--messages-per-pass", "1"}, true},
        {{"--messages-per-pass", "1024"}, true},
        {{"--messages-per-pass", "0"}, false},
        {{"--messages-per-pass", "1025"}, false},
        {{"--control", ""}, false},
        {{"--control"}, false},
        {{"--metrics", "65535"}, true},
        {{"--metrics", "65536"}, false},
        {{"--metrics", "0.0.0.0:0"}, true},
        {{"--metrics", ":9100"}, false},
        {{"--metrics", "1.2.3:9100"}, false},
        {{"--metrics", "127.0.0.1:"}, false},
        {{"--metrics", "localhost:9100"}, false},
    };
    for (const auto& [words, valid] : cases) {
        ServerOptions options;
        std::string problem;
        const OptionsResult result = Parse(words, options, problem);
        EXPECT_EQ(result == OptionsResult::Serve, valid) << words[0] << " " << words.back();
        EXPECT_EQ(problem.empty(), valid) << problem;
    }
}

}  // namespace
