// The command lines of vor-client, vor-load and vor-ctl, read the same way as the server's:
// "--name value" or "--name=value", a help made from the options, and one line with exit
// status 2 for anything refused.

#include "tests/net/NetTestSupport.h"
#include "tools/load/ChildProcess.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    bool ended = false;
    int status = -1;
    std::string output;
};

ToolRun RunTool(const char* path, const std::vector<std::string>& arguments) {
    ChildProcess tool;
    ToolRun run;
    if (!tool.Start(path, arguments)) {
        return run;
    }
    run.ended = WaitFor([&] {
        tool.ReadOutput(run.output);
        return tool.Ended(run.status);
    });
    tool.ReadOutput(run.output);
    return run;
}

struct Refusal {
    const char* name;
    const char* path;
    std::vector<std::string> arguments;
    // The one line the tool writes, without its end.
    const char* line;
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
    *out << refusal.name;
}

class RefusedToolArguments : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedToolArguments, OneLineAndExitTwo) {
    const ToolRun run = RunTool(GetParam().path, GetParam().arguments);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.output, std::string(GetParam().line) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Tools, RefusedToolArguments,
    ::testing::Values(
        Refusal{"ClientNoPort",
                VOR_CLIENT_PATH,
                {"127.0.0.1"},
                "vor-client: the server's HOST and PORT are needed (see vor-client --help)"},
        Refusal{"ClientPortZero",
                VOR_CLIENT_PATH,
                {"127.0.0.1", "0"},
                "vor-client: invalid value '0' for PORT (see vor-client --help)"},
        Refusal{"ClientThirdWord",
                VOR_CLIENT_PATH,
                {"127.0.0.1", "4711", "x"},
                "vor-client: unexpected argument 'x' (see vor-client --help)"},
        Refusal{"ClientOption",
                VOR_CLIENT_PATH,
                {"--port=4711"},
                "vor-client: unknown option '--port=4711' (see vor-client --help)"},
        Refusal{"LoadUnknown",
                VOR_LOAD_PATH,
                {"4711", "--bogus"},
                "vor-load: unknown option '--bogus' (see vor-load --help)"},
        Refusal{"LoadNeedsValue",
                VOR_LOAD_PATH,
                {"4711", "--players"},
                "vor-load: --players needs a value (see vor-load --help)"},
        Refusal{"LoadInlineValue",
                VOR_LOAD_PATH,
                {"4711", "--players=1"},
                "vor-load: the value '1' of --players is out of range (see vor-load --help)"},
        Refusal{"LoadFlagWithValue",
                VOR_LOAD_PATH,
                {"4711", "--idle=yes"},
                "vor-load: unknown option '--idle=yes' (see vor-load --help)"},
        Refusal{"LoadFlagWithTrue",
                VOR_LOAD_PATH,
                {"4711", "--idle=true"},
                "vor-load: unknown option '--idle=true' (see vor-load --help)"},
        Refusal{"LoadHelpAfterABadValue",
                VOR_LOAD_PATH,
                {"4711", "--players=1", "--help"},
                "vor-load: the value '1' of --players is out of range (see vor-load --help)"},
        Refusal{"LoadNoPort",
                VOR_LOAD_PATH,
                {"--players", "10"},
                "vor-load: the server's port is missing (see vor-load --help)"},
        Refusal{"CtlNoCommand",
                VOR_CTL_PATH,
                {"/tmp/vor.sock"},
                "vor-ctl: the control socket's PATH and a COMMAND are needed (see vor-ctl "
                "--help)"},
        Refusal{"CtlOption",
                VOR_CTL_PATH,
                {"--wait", "/tmp/vor.sock", "stats"},
                "vor-ctl: unknown option '--wait' (see vor-ctl --help)"}),
    [](const ::testing::TestParamInfo<Refusal>& param) { return param.param.name; });

TEST(ToolCommandLine, HelpAndVersionOfEachTool) {
    for (const auto& [path, program] :
         {std::pair{VOR_CLIENT_PATH, "vor-client"}, std::pair{VOR_LOAD_PATH, "vor-load"},
          std::pair{VOR_CTL_PATH, "vor-ctl"}}) {
        const ToolRun help = RunTool(path, {"--help", "--bogus"});
        ASSERT_TRUE(help.ended) << program;
        EXPECT_EQ(help.status, 0) << program;
        EXPECT_TRUE(help.output.starts_with(std::string("Usage: ") + program)) << help.output;
        EXPECT_NE(help.output.find("--version"), std::string::npos) << help.output;

        const ToolRun version = RunTool(path, {"--version"});
        EXPECT_EQ(version.status, 0) << program;
        EXPECT_EQ(version.output, std::string(program) + " 1.0\n");
    }
}

}  // namespace
