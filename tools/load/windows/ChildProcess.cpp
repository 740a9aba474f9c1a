#include "tools/load/ChildProcess.h"

#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <string>

namespace {

// Pipe and process handles fit in 32 bits, so the object keeps them as ints.
HANDLE Handle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

std::intptr_t Value(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

// One command line from the words, each quoted, as the C runtime splits it again.
std::string CommandLine(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) {
            line += ' ';
        }
        line += '"' + word + '"';
    }
    return line;
}

// The system's description of the error of the call that failed last, without its line end.
std::string LastErrorText() {
    const DWORD code = GetLastError();
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == ' ' || reason.back() == '.')) {
        reason.pop_back();
    }
    return reason.empty() ? "error " + std::to_string(code) : reason;
}

}  // namespace

ChildProcess::~ChildProcess() {
    Stop();
    if (input >= 0) {
        CloseHandle(Handle(input));
    }
    if (output >= 0) {
        CloseHandle(Handle(output));
    }
    if (process != 0) {
        CloseHandle(Handle(process));
    }
}

void ChildProcess::Stop() {
    int status = 0;
    if (process == 0 || Ended(status)) {
        return;
    }
    // Windows has no termination request a console program can catch from another console.
    TerminateProcess(Handle(process), 1);
    WaitForSingleObject(Handle(process), INFINITE);
    Ended(status);
}

bool ChildProcess::Start(const std::string& path, const std::vector<std::string>& arguments) {
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childInput = nullptr;
    HANDLE toChild = nullptr;
    HANDLE fromChild = nullptr;
    HANDLE childOutput = nullptr;
    if (!CreatePipe(&childInput, &toChild, &inherited, 0)) {
        startFailure = LastErrorText();
        return false;
    }
    if (!CreatePipe(&fromChild, &childOutput, &inherited, 0)) {
        startFailure = LastErrorText();
        CloseHandle(childInput);
        CloseHandle(toChild);
        return false;
    }
    // Only the child's ends are inherited.
    SetHandleInformation(toChild, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromChild, HANDLE_FLAG_INHERIT, 0);
    std::vector<std::string> words{path};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::string line = CommandLine(words);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
    startup.hStdError = childOutput;
    PROCESS_INFORMATION started{};
    const bool created = CreateProcessA(path.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &started);
    if (!created) {
        startFailure = LastErrorText();
    }
    CloseHandle(childInput);
    CloseHandle(childOutput);
    if (!created) {
        CloseHandle(toChild);
        CloseHandle(fromChild);
        return false;
    }
    CloseHandle(started.hThread);
    process = Value(started.hProcess);
    pid = static_cast<long>(started.dwProcessId);
    input = static_cast<int>(Value(toChild));
    output = static_cast<int>(Value(fromChild));
    return true;
}

void ChildProcess::ReadOutput(std::string& into) {
    // A pipe read waits, so only what is already there is read.
    char chunk[4096];
    DWORD available = 0;
    while (PeekNamedPipe(Handle(output), nullptr, 0, nullptr, &available, nullptr) &&
           available > 0) {
        DWORD got = 0;
        const DWORD ask = available < sizeof chunk ? available : sizeof chunk;
        if (!ReadFile(Handle(output), chunk, ask, &got, nullptr) || got == 0) {
            return;
        }
        into.append(chunk, got);
    }
}

bool ChildProcess::Ended(int& status) {
    if (!ended && process != 0 && WaitForSingleObject(Handle(process), 0) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(Handle(process), &code);
        ended = true;
        endStatus = static_cast<int>(code);
    }
    status = endStatus;
    return ended;
}

long ResidentKib(long pid) {
    const HANDLE query = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE,
                                     static_cast<DWORD>(pid));
    if (query == nullptr) {
        return -1;
    }
    // A process that has ended stays readable while a handle to it is open; it is gone all the
    // same.
    DWORD code = 0;
    PROCESS_MEMORY_COUNTERS counters{};
    const bool read = GetExitCodeProcess(query, &code) && code == STILL_ACTIVE &&
                      GetProcessMemoryInfo(query, &counters, sizeof counters);
    CloseHandle(query);
    return read ? static_cast<long>(counters.WorkingSetSize / 1024) : -1;
}

std::int64_t ProcessorMicros(long pid) {
    const HANDLE query =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (query == nullptr) {
        return -1;
    }
    DWORD code = 0;
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    const bool read = GetExitCodeProcess(query, &code) && code == STILL_ACTIVE &&
                      GetProcessTimes(query, &created, &exited, &kernel, &user);
    CloseHandle(query);
    if (!read) {
        return -1;
    }
    // Both times count 100 ns intervals.
    const auto hundreds = [](const FILETIME& time) {
        return (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return (hundreds(kernel) + hundreds(user)) / 10;
}
