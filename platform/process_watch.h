// Watching another process for its end.
#pragma once

#include <cstdint>
#include <memory>

namespace xel::platform {

struct NativeProcessWatch;

// Watches one process for its end. Where the system allows, the watch holds the process itself
// from construction on, not just its id, so a process that later gets the same id is never taken
// for it. A process that does not exist at construction counts as ended.
class ProcessWatch {
public:
    explicit ProcessWatch(std::int64_t pid);
    ~ProcessWatch();
    ProcessWatch(const ProcessWatch&) = delete;
    ProcessWatch& operator=(const ProcessWatch&) = delete;

    std::int64_t pid() const { return m_pid; }
    // Whether the process has ended. Does not block. Any thread.
    bool hasEnded() const;
    // Blocks until the process ends (true) or cancel() is called (false). One waiting thread at a
    // time; the watch must outlive the wait.
    bool waitForEnd();
    // Ends the wait in progress, and every later one, at once. Any thread.
    void cancel();
    // Ends the watched process at once, without giving it a say; nothing if it has ended. The
    // process itself is addressed where the system allows, never a later one with its id. Any
    // thread.
    void terminate();
    // Stops every thread of the watched process until resume(), as a debugger would; nothing if
    // it has ended. For tools and tests that play a hung process. Any thread, but resume() on the
    // thread that called suspend(): on Windows that thread is attached as the process's debugger.
    void suspend();
    void resume();

private:
    std::int64_t m_pid;
    std::unique_ptr<NativeProcessWatch> m_native;
};

}  // namespace xel::platform
