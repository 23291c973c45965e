#include "tools/host_driver/console.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace orvanta::tools {

void say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::vector<char> line(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
    if (length > 0)
        std::vsnprintf(line.data(), line.size(), format, arguments);
    va_end(arguments);
    // One stream call per line, so that lines of two threads never mix.
    std::fprintf(stdout, "%s\n", line.data());
    std::fflush(stdout);
}

}  // namespace orvanta::tools
