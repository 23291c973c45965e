#include "tools/host_driver/console.h"

#include <unistd.h>

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace orvanta::tools {
namespace {

constexpr int kBarCells = 20;

std::atomic<bool> g_verbose{false};
std::mutex g_logMutex;
std::FILE* g_log = nullptr;  // under g_logMutex
QString g_logPath;           // under g_logMutex
std::string g_firstFailure;  // under g_logMutex
constexpr char kFailurePrefix[] = "host: FAILED: ";

enum class Shown { Always, WhenVerbose, Never };

std::string formatted(const char* format, va_list arguments) {
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::vector<char> line(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
    if (length > 0)
        std::vsnprintf(line.data(), line.size(), format, arguments);
    return std::string(line.data());
}

void writeLine(const std::string& line, Shown shown) {
    {
        std::lock_guard<std::mutex> guard(g_logMutex);
        if (g_firstFailure.empty() && line.rfind(kFailurePrefix, 0) == 0)
            g_firstFailure = line.substr(sizeof kFailurePrefix - 1);
        if (g_log) {
            std::fprintf(g_log, "%s\n", line.c_str());
            std::fflush(g_log);
        }
    }
    if (shown == Shown::Always || (shown == Shown::WhenVerbose && g_verbose.load())) {
        // One stream call per line, so that lines of two threads never mix.
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    }
}

}  // namespace

void setVerbose(bool verbose) {
    g_verbose.store(verbose);
}

bool verbose() {
    return g_verbose.load();
}

bool openLogFile(const QString& path, QString* error) {
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "w");
    if (!file) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    std::lock_guard<std::mutex> guard(g_logMutex);
    if (g_log)
        std::fclose(g_log);
    g_log = file;
    g_logPath = path;
    return true;
}

QString logPath() {
    std::lock_guard<std::mutex> guard(g_logMutex);
    return g_logPath;
}

QString firstFailure() {
    std::lock_guard<std::mutex> guard(g_logMutex);
    return QString::fromStdString(g_firstFailure);
}

void say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const std::string line = formatted(format, arguments);
    va_end(arguments);
    writeLine(line, line.rfind("host: FAILED", 0) == 0 ? Shown::Always : Shown::WhenVerbose);
}

void step(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const std::string line = formatted(format, arguments);
    va_end(arguments);
    writeLine(line, Shown::Always);
}

void logOnly(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const std::string line = formatted(format, arguments);
    va_end(arguments);
    writeLine(line, Shown::Never);
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
