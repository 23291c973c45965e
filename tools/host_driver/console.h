// The host driver's console: what it says goes to standard output, one line at a time, flushed
// at once so that a reader of the pipe sees each line as it is written.
#pragma once

namespace orvanta::tools {

// printf-style; appends the line end. Any thread.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orvanta::tools
