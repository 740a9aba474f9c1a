#include "fuzz/FuzzScript.h"
#include "fuzz/ScriptCheck.h"
#include "program/ProcessSetup.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>

namespace {

std::ptrdiff_t OpenDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
}

}  // namespace

// One input is one script; every descriptor it opened is closed again before the next one.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool prepared = [] {
        SetUpProcess(ProcessNeeds{});
        return true;
    }();
    (void)prepared;
    const std::ptrdiff_t before = OpenDescriptors();
    RunRelayScript(DecodeScript(data, size));
    const std::ptrdiff_t after = OpenDescriptors();
    if (after != before) {
        std::fprintf(stderr, "relay fuzz: %td descriptors open before the script, %td after\n",
                     before, after);
        std::abort();
    }
    return 0;
}
