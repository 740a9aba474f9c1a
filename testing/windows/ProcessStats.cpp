#include "testing/ProcessStats.h"

#include <windows.h>
// psapi.h needs the types of windows.h.
#include <psapi.h>

#include <cstdint>

namespace {

// A handle to ask about `process`, closed when it goes.
class ProcessQuery {
public:
    explicit ProcessQuery(ProcessId process)
        : handle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE,
                             static_cast<DWORD>(process))) {}
    ~ProcessQuery() {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
    ProcessQuery(const ProcessQuery&) = delete;
    ProcessQuery& operator=(const ProcessQuery&) = delete;

    HANDLE Handle() const { return handle; }

private:
    HANDLE handle;
};

std::uint64_t HundredNanoseconds(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

ProcessId ThisProcess() {
    return static_cast<ProcessId>(GetCurrentProcessId());
}

std::optional<long> ResidentKilobytes(ProcessId process) {
    const ProcessQuery query(process);
    PROCESS_MEMORY_COUNTERS counters{};
    if (query.Handle() == nullptr ||
        !GetProcessMemoryInfo(query.Handle(), &counters, sizeof counters)) {
        return std::nullopt;
    }
    return static_cast<long>(counters.WorkingSetSize / 1024);
}

std::optional<long> CpuMilliseconds(ProcessId process) {
    const ProcessQuery query(process);
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (query.Handle() == nullptr ||
        !GetProcessTimes(query.Handle(), &created, &exited, &kernel, &user)) {
        return std::nullopt;
    }
    return static_cast<long>((HundredNanoseconds(kernel) + HundredNanoseconds(user)) / 10000);
}
