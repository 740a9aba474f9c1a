#pragma once

#include "testing/ProcessStats.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The vor-server this build made, started as an interactive shell with job control starts a
// command with `&`: on a pseudo-terminal of its own, whose session leader (standing in for the
// shell) keeps the terminal, with the server in a process group of its own in the background.
// Foreground() then does what `fg` does. The terminal neither echoes what is typed nor changes
// line ends, so its output is what the server wrote. The destructor ends the server by its PID.
class TerminalServer {
public:
    // `stopBackgroundWriters` sets the terminal's `tostop`, which stops a background process
    // that writes to it, as `stty tostop` does.
    TerminalServer(const std::vector<std::string>& arguments, bool stopBackgroundWriters);
    ~TerminalServer();
    TerminalServer(const TerminalServer&) = delete;
    TerminalServer& operator=(const TerminalServer&) = delete;

    // True when the terminal was set up and the server process started.
    bool Started() const { return serverPid > 0; }
    // Writes `text` to the terminal as typed keys.
    void Type(std::string_view text);
    // Gives the terminal to the server's process group and continues it, as `fg` does; true
    // when the leader could.
    bool Foreground();
    // Waits until the terminal's output holds `text`; true when it does.
    bool WaitForOutput(std::string_view text, int timeoutMs);
    // Everything the terminal has shown so far.
    std::string Output();
    // The exit status, or none when the server is still running after the time.
    std::optional<int> WaitForExit(int timeoutMs);

private:
    // Takes what arrives on the terminal within the time; false when nothing did.
    bool Drain(int timeoutMs);
    // A byte from the session leader, or none within the time.
    std::optional<char> Reply(int timeoutMs);

    // The terminal's controlling side, and a descriptor of the server's side.
    int terminal = -1;
    int terminalSide = -1;
    // Requests to the session leader, and its replies.
    int requests = -1;
    int replies = -1;
    ProcessId leaderPid = -1;
    ProcessId serverPid = -1;
    std::string collected;
    bool exited = false;
    int status = 0;
};
