#include "platform/process.h"

#include "platform/win32_object.h"

namespace xel::platform {

std::int64_t currentProcessId() {
    return static_cast<std::int64_t>(::GetCurrentProcessId());
}

bool processExists(std::int64_t pid) {
    if (pid <= 0 || pid > static_cast<std::int64_t>(MAXDWORD))
        return false;
    HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    // A process object outlives its process while handles to it are open; only a running one has
    // no exit code yet.
    DWORD exitCode = 0;
    const bool running = ::GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE;
    ::CloseHandle(process);
    return running;
}

}  // namespace xel::platform
