#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The real vor-server binary, started with its standard input and output on pipes. The
// destructor ends the process it started, by its PID.
class ServerProcess {
public:
    // `prefix` runs before the binary (for example {"prlimit", "--nofile=64", "--"}) and
    // `arguments` are its command line. Its standard error goes to a pipe of its own.
    explicit ServerProcess(const std::vector<std::string>& prefix = {},
                           const std::vector<std::string>& arguments = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    void WriteInput(std::string_view text);
    void CloseInput();
    // Waits until the output holds `text`; true when it does.
    bool WaitForOutput(std::string_view text, int timeoutMs = 5000);
    // Waits until `text` occurs `count` times.
    bool WaitForOutputCount(std::string_view text, std::size_t count, int timeoutMs = 5000);
    // Everything the server has written so far, up to this moment.
    std::string Output();
    // Everything the server has written to its standard error so far.
    std::string ErrorOutput();
    // Sends the signal to the process started, by its PID.
    void Signal(int signalNumber);
    // Waits until the output holds at least `size` bytes, then returns all of it; for comparing
    // a whole console transcript byte for byte.
    std::string WaitForOutputSize(std::size_t size, int timeoutMs = 5000);
    // The exit status, or none when the process is still running after the time.
    std::optional<int> WaitForExit(int timeoutMs = 5000);
    pid_t Pid() const { return pid; }
    // The sockets the running process holds open.
    int OpenSocketCount() const;
    // The process's resident memory in KiB, or -1 when it cannot be read.
    long ResidentKilobytes() const;

    // Starts the server listening on a free loopback port, with the display choice given;
    // returns that port, or 0 when the listening line did not appear.
    std::uint16_t StartListening(bool display);

    // A port that was free a moment ago.
    static std::uint16_t FreePort();

private:
    // Takes what arrives on the output within the time; false when nothing did.
    bool Drain(int timeoutMs);

    pid_t pid = -1;
    int input = -1;
    int output = -1;
    int errors = -1;
    std::string collected;
    std::string collectedErrors;
    bool exited = false;
    int status = 0;
};
