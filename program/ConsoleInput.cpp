#include "program/ConsoleInput.h"

#include "program/ProcessSetup.h"
#include "sync/Clock.h"

namespace {

// How often a read that fails while the program runs in the background of its shell is tried
// again; it succeeds once the operator brings the program to the foreground.
constexpr unsigned BACKGROUND_RETRY_MS = 200;

}  // namespace

std::optional<std::string> ReadConsoleLine(std::FILE* in, std::size_t keptLength) {
    std::string line;
    for (;;) {
        const int c = std::fgetc(in);
        if (c == '\n') {
            return line;
        }
        if (c != EOF) {
            if (line.size() < keptLength) {
                line += static_cast<char>(c);
            }
            continue;
        }
        if (std::ferror(in) && ConsoleReadFailedInBackground()) {
            std::clearerr(in);
            SleepMilliseconds(BACKGROUND_RETRY_MS);
            continue;
        }
        if (line.empty()) {
            return std::nullopt;
        }
        return line;
    }
}
