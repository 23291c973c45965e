// Waiting for a suspended child process to be stopped, where the system suspends asynchronously.
#pragma once

#include <cstdint>

namespace xel::test {

// Returns once the child `pid` of the calling process, just suspended through its process watch,
// has stopped every thread; its state is left for QProcess to collect. Returns at once where the
// suspension is complete when it returns.
void waitUntilChildStopped(std::int64_t pid);

}  // namespace xel::test
