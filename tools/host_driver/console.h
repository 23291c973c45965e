// The host driver's console: what it says goes to standard output, one line at a time, flushed
// at once so that a reader of the pipe sees each line as it is written; a progress bar goes to
// standard error, and only to a terminal. Two kinds of lines: the steps (one line each, always
// shown) and the details (every wait, the plug-in's log, the digests, the render window's message
// log), shown only when verbose. Both go to the log file, when one is open.
#pragma once

#include <QString>

namespace orvanta::tools {

// Whether details are shown on standard output too (--verbose). Before the first line.
void setVerbose(bool verbose);
bool verbose();
// Opens `path` (truncated) as the log file that every line goes to from now on; false, with the
// reason in `error`, when it cannot be opened. Host thread, before other threads say anything.
bool openLogFile(const QString& path, QString* error);

// The log file's path as opened; empty before.
QString logPath();
// The first line said that starts with "host: FAILED: ", without that start; empty when none.
QString firstFailure();

// A detail, printf-style; appends the line end. Any thread. A detail starting with "host: FAILED"
// is shown as a step.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A step, printf-style: always shown. Any thread.
void step(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Only into the log file (for the render window's log when not verbose). Any thread.
void logOnly(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Whether standard error is a terminal.
bool standardErrorIsTerminal();

// "\r[#####.....] 42%" on standard error, redrawn in place as the percent grows; the line ends
// when 100 is shown or the bar goes. Draws nothing unless enabled. One thread.
class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : m_enabled(enabled) {}
    ~ProgressBar() { finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Draws `percent` (0 to 100) unless it is the one shown last, also after the line ended.
    void show(int percent);
    // Ends the bar's line, when one is open.
    void finish();

private:
    bool m_enabled;
    bool m_open = false;
    int m_shown = -1;
};

}  // namespace orvanta::tools
