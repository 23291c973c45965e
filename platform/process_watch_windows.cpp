// Process watches on Windows: a handle to the process, signalled when it ends, and an event to
// cancel a wait.
#include "platform/process_watch.h"

#include "platform/win32_object.h"

namespace xel::platform {

struct NativeProcessWatch {
    Win32Handle process;
    Win32Handle cancel;
};

ProcessWatch::ProcessWatch(std::int64_t pid)
    : m_pid(pid), m_native(std::make_unique<NativeProcessWatch>()) {
    m_native->cancel.handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (pid > 0 && pid <= 0xFFFFFFFFll)
        m_native->process.handle =
            ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    // A process this one may not end can still be watched.
    if (pid > 0 && pid <= 0xFFFFFFFFll && !m_native->process.handle)
        m_native->process.handle = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
}

ProcessWatch::~ProcessWatch() = default;

bool ProcessWatch::hasEnded() const {
    // A process that could not be opened is gone (or was never ours to watch).
    return !m_native->process.handle ||
           ::WaitForSingleObject(m_native->process.handle, 0) != WAIT_TIMEOUT;
}

bool ProcessWatch::waitForEnd() {
    if (hasEnded())
        return true;
    HANDLE handles[2] = {m_native->cancel.handle, m_native->process.handle};
    return ::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
}

void ProcessWatch::terminate() {
    if (!hasEnded())
        ::TerminateProcess(m_native->process.handle, 1);
}

void ProcessWatch::suspend() {
    if (!hasEnded() && ::DebugActiveProcess(static_cast<DWORD>(m_pid)))
        ::DebugSetProcessKillOnExit(FALSE);
}

void ProcessWatch::resume() {
    if (!hasEnded())
        ::DebugActiveProcessStop(static_cast<DWORD>(m_pid));
}

void ProcessWatch::cancel() {
    ::SetEvent(m_native->cancel.handle);
}

}  // namespace xel::platform
