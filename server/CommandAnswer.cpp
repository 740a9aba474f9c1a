#include "server/CommandAnswer.h"

#include <cstdarg>

void CommandAnswer::Print(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    if (console != nullptr) {
        std::vfprintf(console, format, arguments);
        std::fflush(console);
    } else {
        va_list measuring;
        va_copy(measuring, arguments);
        const int length = std::vsnprintf(nullptr, 0, format, measuring);
        va_end(measuring);
        if (length > 0) {
            const std::size_t before = collected->size();
            collected->resize(before + static_cast<std::size_t>(length) + 1);
            std::vsnprintf(collected->data() + before, static_cast<std::size_t>(length) + 1, format,
                           arguments);
            collected->resize(before + static_cast<std::size_t>(length));
        }
    }
    va_end(arguments);
}
