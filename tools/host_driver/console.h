// The host driver's console: what it says goes to standard output, one line at a time, flushed
// at once so that a reader of the pipe sees each line as it is written; a progress bar goes to
// standard error, and only to a terminal.
#pragma once

namespace orvanta::tools {

// printf-style; appends the line end. Any thread.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

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
