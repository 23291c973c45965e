#include "platform/window.h"

#include "platform/win32_object.h"

namespace xel::platform {

void activateWindow(std::int64_t window) {
    if (window == 0)
        return;
    ::SetActiveWindow(reinterpret_cast<HWND>(static_cast<std::intptr_t>(window)));
}

std::uint64_t windowOwnerProcess(std::intptr_t window) {
    HWND handle = reinterpret_cast<HWND>(window);
    if (!handle) {
        handle = ::GetActiveWindow();
        if (!handle)
            handle = ::GetForegroundWindow();
        if (!handle)
            return 0;
        if (HWND owner = ::GetWindow(handle, GW_OWNER))
            handle = owner;
    }
    DWORD processId = 0;
    // A thread id of 0 means the handle named no window.
    if (::GetWindowThreadProcessId(handle, &processId) == 0)
        return 0;
    return static_cast<std::uint64_t>(processId);
}

}  // namespace xel::platform
