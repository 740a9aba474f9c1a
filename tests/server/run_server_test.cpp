// The whole program in this process: the dialogue from a file, the serving, the quit.

#include "server/RunServer.h"
#include "tests/program/InputFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string ContentOf(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        text += static_cast<char>(c);
    }
    return text;
}

// The uptime that stats reports starts at the listening line, not when the program started:
// the time the operator spends on the questions is not uptime.
TEST(RunServer, UptimeStartsAtTheListeningLine) {
    ServerState state;
    ServerOptions options;
    options.bindAddress = "127.0.0.1";
    std::FILE* in = InputOf("0\nn\nquit\n");
    std::FILE* out = std::tmpfile();
    std::FILE* errors = std::tmpfile();
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    ASSERT_NE(errors, nullptr);
    const auto beforeListening = SteadyClock::now();
    EXPECT_EQ(RunServer(state, options, in, out, errors), 0);
    EXPECT_GE(state.statistics.startedAt, beforeListening);
    const std::string console = ContentOf(out);
    EXPECT_NE(console.find("Done. Created a listing socket at port 0.\n\nServer stopped.\n"),
              std::string::npos)
        << console;
    EXPECT_EQ(console.find("The system chose port"), std::string::npos)
        << "the dialogue's lines stay as they were";
    // The input stays open: the command reader's thread may still be reading its end.
    std::fclose(out);
    std::fclose(errors);
}

}  // namespace
