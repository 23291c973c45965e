#include "tools/host_driver/console.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace orvanta::tools {
namespace {

constexpr int kBarCells = 20;

}  // namespace

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

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

void ProgressBar::show(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (!m_enabled || percent == m_shown)
        return;
    m_shown = percent;
    m_open = true;
    const int filled = percent * kBarCells / 100;
    const std::string cells = std::string(static_cast<std::size_t>(filled), '#') +
                              std::string(static_cast<std::size_t>(kBarCells - filled), '.');
    std::fprintf(stderr, "\r[%s] %3d%%", cells.c_str(), percent);
    std::fflush(stderr);
    if (percent == 100)
        finish();
}

void ProgressBar::finish() {
    if (!m_open)
        return;
    std::fputc('\n', stderr);
    std::fflush(stderr);
    m_open = false;
}

}  // namespace orvanta::tools
