#pragma once

#include "testing/ProcessStats.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The bound of a wait for the server run from outside: a few of its passes, with the margin of
// a loaded machine and of a Windows server run under wine.
inline constexpr int SERVER_WAIT_MS = 10000;

// Why a test that reads the server process's state through Linux's own interfaces (/proc,
// prlimit) is skipped when the server is not the binary this build made.
inline constexpr const char* NEEDS_NATIVE_SERVER =
    "reads the server process through Linux interfaces; VOR_SERVER_COMMAND names another server";

// The vor-server, started with its standard input and output on pipes. The command is the one in
// the environment variable VOR_SERVER_COMMAND (words split at spaces, for example
// "wine /path/vor-server.exe"), or else the binary this build made. The destructor ends the
// process it started, by its PID.
class ServerProcess {
public:
    // `prefix` runs before the command (for example {"prlimit", "--nofile=64", "--"}) and
    // `arguments` are its command line. Its standard error goes to a pipe of its own.
    explicit ServerProcess(const std::vector<std::string>& prefix = {},
                           const std::vector<std::string>& arguments = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    void WriteInput(std::string_view text);
    void CloseInput();
    // Closes this end of the server's output, as a console reader that has gone would: the
    // server's next console line then meets a broken pipe.
    void CloseOutput();
    // Waits until the output holds `text`; true when it does.
    bool WaitForOutput(std::string_view text, int timeoutMs = SERVER_WAIT_MS);
    // Waits until `text` occurs `count` times.
    bool WaitForOutputCount(std::string_view text, std::size_t count,
                            int timeoutMs = SERVER_WAIT_MS);
    // Everything the server has written so far, up to this moment.
    std::string Output();
    // Everything the server has written to its standard error so far.
    std::string ErrorOutput();
    // Sends the signal to the process started, by its PID.
    void Signal(int signalNumber);
    // Waits until the output holds at least `size` bytes, then returns all of it; for comparing
    // a whole console transcript byte for byte.
    std::string WaitForOutputSize(std::size_t size, int timeoutMs = SERVER_WAIT_MS);
    // The exit status, or none when the process is still running after the time.
    std::optional<int> WaitForExit(int timeoutMs = SERVER_WAIT_MS);
    ProcessId Pid() const { return pid; }
    // The sockets the running process holds open.
    int OpenSocketCount() const { return ::OpenSocketCount(pid); }
    // The process's resident memory in KiB, or -1 when it cannot be read.
    long ResidentKilobytes() const { return ::ResidentKilobytes(pid).value_or(-1); }

    // Starts the server listening on a loopback port, with the display choice given; returns
    // that port, or 0 when the listening line did not appear.
    std::uint16_t StartListening(bool display);
    // Types `reply(port)` (which names `port` in the place the server reads it) for a port chosen
    // at random; when the server reports that it cannot listen there, starts it again and
    // chooses another. Only the server that failed to bind sees the port taken, so two runs at
    // once cannot race for one. Returns the port the server listens on, or 0 when no listening
    // line appeared. With `closeInput`, the input ends after the reply.
    std::uint16_t ListenWith(const std::function<std::string(std::uint16_t)>& reply,
                             bool closeInput = false);
    // The same with the port given on the command line instead: starts the server again with
    // `arguments` and `--port P` after its command, for a port P chosen as above.
    std::uint16_t ListenWithPortOption(const std::vector<std::string>& arguments);

    // The command that starts the server: VOR_SERVER_COMMAND split at spaces, or the binary this
    // build made.
    static std::vector<std::string> Command();
    // True when the server is the binary this build made, run directly.
    static bool IsNative();
    // True when VOR_SERVER_COMMAND names a Windows program (a word ending in ".exe"), run under
    // wine: its sockets follow Winsock where it differs from Linux.
    static bool IsWindowsProgram();

private:
    void Launch();
    // Calls `start(port)` for ports chosen at random until the server listens on one; `start`
    // is told whether it must launch the server again first.
    std::uint16_t ChoosePort(const std::function<void(std::uint16_t port, bool relaunch)>& start);
    // Ends the process and closes the pipes to it.
    void Stop();
    // Takes what arrives on the output within the time; false when nothing did.
    bool Drain(int timeoutMs);

    std::vector<std::string> command;
    ProcessId pid = -1;
    int input = -1;
    int output = -1;
    int errors = -1;
    std::string collected;
    std::string collectedErrors;
    bool exited = false;
    int status = 0;
};
