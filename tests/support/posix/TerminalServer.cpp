#include "tests/support/TerminalServer.h"

#include "testing/Deadline.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#ifndef VOR_SERVER_PATH
#error "VOR_SERVER_PATH must name the vor-server binary"
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr char FOREGROUND_REQUEST = 'f';
constexpr char DONE = 'y';
constexpr char REFUSED = 'n';
// How often the session leader looks whether the server has ended.
constexpr int LEADER_POLL_MS = 20;

// Raw output and no echo, so that the terminal shows the server's bytes as written.
bool SetUpTerminal(int terminal, bool stopBackgroundWriters) {
    termios settings{};
    if (tcgetattr(terminal, &settings) != 0) {
        return false;
    }
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    if (stopBackgroundWriters) {
        settings.c_lflag |= TOSTOP;
    }
    return tcsetattr(terminal, TCSANOW, &settings) == 0;
}

// The session leader, in the child: takes the terminal, starts the server in the background
// and does what the test asks until the server ends, then ends with the server's status. Only
// async-signal-safe calls: the test process may run other threads.
[[noreturn]] void LeadSession(const char* terminalName, char* const* arguments, int requests,
                              int replies) {
    setsid();
    const int terminal = open(terminalName, O_RDWR);
    if (terminal < 0 || ioctl(terminal, TIOCSCTTY, 0) != 0) {
        _exit(126);
    }
    const pid_t server = fork();
    if (server == 0) {
        setpgid(0, 0);
        dup2(terminal, STDIN_FILENO);
        dup2(terminal, STDOUT_FILENO);
        dup2(terminal, STDERR_FILENO);
        execv(arguments[0], arguments);
        _exit(127);
    }
    setpgid(server, server);
    if (write(replies, &server, sizeof server) != sizeof server) {
        _exit(126);
    }
    pollfd watched{requests, POLLIN, 0};
    for (;;) {
        if (poll(&watched, 1, LEADER_POLL_MS) > 0) {
            char request = 0;
            if (read(requests, &request, 1) != 1) {
                // The test is gone or asks nothing more.
                watched.fd = -1;
            } else if (request == FOREGROUND_REQUEST) {
                // As `fg` does: the terminal to the group, then a stopped group goes on.
                const bool given = tcsetpgrp(terminal, server) == 0 && kill(-server, SIGCONT) == 0;
                const char reply = given ? DONE : REFUSED;
                if (write(replies, &reply, 1) != 1) {
                    watched.fd = -1;
                }
            }
        }
        int serverStatus = 0;
        if (waitpid(server, &serverStatus, WNOHANG) == server) {
            _exit(WIFEXITED(serverStatus) ? WEXITSTATUS(serverStatus)
                                          : 128 + WTERMSIG(serverStatus));
        }
    }
}

}  // namespace

TerminalServer::TerminalServer(const std::vector<std::string>& arguments,
                               bool stopBackgroundWriters) {
    terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
        return;
    }
    const char* name = ptsname(terminal);
    if (name == nullptr || !SetUpTerminal(terminal, stopBackgroundWriters)) {
        return;
    }
    const std::string terminalName = name;
    // Held open here too, so that the terminal never hangs up under the test's reads, whenever
    // the session's processes open or close it.
    terminalSide = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminalSide < 0) {
        return;
    }
    std::vector<std::string> words{VOR_SERVER_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    int toLeader[2];
    int fromLeader[2];
    if (pipe2(toLeader, O_CLOEXEC) != 0) {
        return;
    }
    if (pipe2(fromLeader, O_CLOEXEC) != 0) {
        close(toLeader[0]);
        close(toLeader[1]);
        return;
    }
    leaderPid = fork();
    if (leaderPid == 0) {
        close(terminal);
        close(terminalSide);
        close(toLeader[1]);
        close(fromLeader[0]);
        LeadSession(terminalName.c_str(), argv.data(), toLeader[0], fromLeader[1]);
    }
    close(toLeader[0]);
    close(fromLeader[1]);
    requests = toLeader[1];
    replies = fromLeader[0];
    if (leaderPid < 0) {
        return;
    }
    pid_t server = -1;
    pollfd watched{replies, POLLIN, 0};
    if (poll(&watched, 1, 10000) > 0 && read(replies, &server, sizeof server) == sizeof server) {
        serverPid = server;
    }
}

TerminalServer::~TerminalServer() {
    if (serverPid > 0 && !exited) {
        kill(serverPid, SIGKILL);
    }
    if (leaderPid > 0 && !exited) {
        waitpid(leaderPid, nullptr, 0);
    }
    for (const int descriptor : {terminal, terminalSide, requests, replies}) {
        if (descriptor >= 0) {
            close(descriptor);
        }
    }
}

void TerminalServer::Type(std::string_view text) {
    const ssize_t written = write(terminal, text.data(), text.size());
    (void)written;
}

std::optional<char> TerminalServer::Reply(int timeoutMs) {
    pollfd watched{replies, POLLIN, 0};
    char reply = 0;
    if (poll(&watched, 1, timeoutMs) > 0 && read(replies, &reply, 1) == 1) {
        return reply;
    }
    return std::nullopt;
}

bool TerminalServer::Foreground() {
    if (write(requests, &FOREGROUND_REQUEST, 1) != 1) {
        return false;
    }
    return Reply(10000) == DONE;
}

bool TerminalServer::Drain(int timeoutMs) {
    pollfd watched{terminal, POLLIN, 0};
    if (terminal < 0 || poll(&watched, 1, timeoutMs) <= 0) {
        return false;
    }
    char chunk[4096];
    const ssize_t result = read(terminal, chunk, sizeof chunk);
    if (result <= 0) {
        return false;
    }
    collected.append(chunk, static_cast<std::size_t>(result));
    return true;
}

bool TerminalServer::WaitForOutput(std::string_view text, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (collected.find(text) == std::string::npos) {
        if (RemainingMs(deadline) == 0) {
            return false;
        }
        Drain(RemainingMs(deadline));
    }
    return true;
}

std::string TerminalServer::Output() {
    while (Drain(0)) {
    }
    return collected;
}

std::optional<int> TerminalServer::WaitForExit(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!exited) {
        if (leaderPid <= 0) {
            return std::nullopt;
        }
        if (waitpid(leaderPid, &status, WNOHANG) == leaderPid) {
            exited = true;
            break;
        }
        if (RemainingMs(deadline) == 0) {
            return std::nullopt;
        }
        Drain(20);
    }
    Output();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
