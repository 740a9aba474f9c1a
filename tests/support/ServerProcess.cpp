#include "tests/support/ServerProcess.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>

#ifndef VOR_SERVER_PATH
#error "VOR_SERVER_PATH must name the vor-server binary"
#endif

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

std::size_t CountOf(const std::string& haystack, std::string_view needle) {
    std::size_t count = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& prefix,
                             const std::vector<std::string>& serverArguments) {
    int toChild[2];
    int fromChild[2];
    int errorsFromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0 ||
        pipe2(errorsFromChild, O_CLOEXEC) != 0) {
        std::abort();
    }
    std::vector<std::string> command = prefix;
    command.emplace_back(VOR_SERVER_PATH);
    command.insert(command.end(), serverArguments.begin(), serverArguments.end());
    pid = fork();
    if (pid == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        dup2(errorsFromChild[1], STDERR_FILENO);
        std::vector<char*> arguments;
        for (auto& word : command) {
            arguments.push_back(word.data());
        }
        arguments.push_back(nullptr);
        execvp(arguments[0], arguments.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    close(errorsFromChild[1]);
    input = toChild[1];
    output = fromChild[0];
    // Read only when asked for; what a server writes there is short.
    errors = errorsFromChild[0];
    fcntl(errors, F_SETFL, O_NONBLOCK);
}

ServerProcess::~ServerProcess() {
    CloseInput();
    if (pid > 0 && !exited) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (output >= 0) {
        close(output);
    }
    if (errors >= 0) {
        close(errors);
    }
}

void ServerProcess::WriteInput(std::string_view text) {
    if (input >= 0) {
        const ssize_t written = write(input, text.data(), text.size());
        (void)written;
    }
}

void ServerProcess::CloseInput() {
    if (input >= 0) {
        close(input);
        input = -1;
    }
}

bool ServerProcess::Drain(int timeoutMs) {
    if (output < 0) {
        return false;
    }
    pollfd watched{output, POLLIN, 0};
    if (poll(&watched, 1, timeoutMs) <= 0) {
        return false;
    }
    char chunk[4096];
    const ssize_t result = read(output, chunk, sizeof chunk);
    if (result > 0) {
        collected.append(chunk, static_cast<std::size_t>(result));
        return true;
    }
    if (result == 0) {
        close(output);
        output = -1;
    }
    return false;
}

bool ServerProcess::WaitForOutput(std::string_view text, int timeoutMs) {
    return WaitForOutputCount(text, 1, timeoutMs);
}

bool ServerProcess::WaitForOutputCount(std::string_view text, std::size_t count, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (CountOf(collected, text) >= count) {
            return true;
        }
        if (output < 0 || RemainingMs(deadline) == 0) {
            return false;
        }
        Drain(RemainingMs(deadline));
    }
}

std::string ServerProcess::Output() {
    while (Drain(0)) {
    }
    return collected;
}

std::string ServerProcess::ErrorOutput() {
    char chunk[4096];
    ssize_t result = 0;
    while (errors >= 0 && (result = read(errors, chunk, sizeof chunk)) > 0) {
        collectedErrors.append(chunk, static_cast<std::size_t>(result));
    }
    return collectedErrors;
}

void ServerProcess::Signal(int signalNumber) {
    if (pid > 0 && !exited) {
        kill(pid, signalNumber);
    }
}

std::string ServerProcess::WaitForOutputSize(std::size_t size, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (collected.size() < size && output >= 0 && RemainingMs(deadline) > 0) {
        Drain(RemainingMs(deadline));
    }
    return Output();
}

int ServerProcess::OpenSocketCount() const {
    const std::string directory = "/proc/" + std::to_string(pid) + "/fd";
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) {
        return 0;
    }
    int count = 0;
    while (const dirent* entry = readdir(listing)) {
        char target[256];
        const std::string link = directory + "/" + entry->d_name;
        const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        if (length > 0 &&
            std::string_view(target, static_cast<std::size_t>(length)).starts_with("socket:")) {
            ++count;
        }
    }
    closedir(listing);
    return count;
}

long ServerProcess::ResidentKilobytes() const {
    std::ifstream statusFile("/proc/" + std::to_string(pid) + "/status");
    std::string field;
    while (statusFile >> field) {
        if (field == "VmRSS:") {
            long kilobytes = -1;
            statusFile >> kilobytes;
            return kilobytes;
        }
    }
    return -1;
}

std::optional<int> ServerProcess::WaitForExit(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!exited) {
        const pid_t result = waitpid(pid, &status, WNOHANG);
        if (result == pid) {
            exited = true;
            break;
        }
        if (RemainingMs(deadline) == 0) {
            return std::nullopt;
        }
        Drain(20);
    }
    while (output >= 0) {
        Drain(100);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::uint16_t ServerProcess::StartListening(bool display) {
    const std::uint16_t port = FreePort();
    WriteInput(std::to_string(port) + "\n" + (display ? "y\n" : "n\n"));
    const std::string line = "Done. Created a listing socket at port " + std::to_string(port);
    return WaitForOutput(line) ? port : 0;
}

std::uint16_t ServerProcess::FreePort() {
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}
