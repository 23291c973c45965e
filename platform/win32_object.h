// Windows only: the system headers, and the names of this library's kernel objects.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace xel::platform {

// "Local\xelipc-<kind>-<name>" in UTF-16: private to the logon session. A backslash is reserved in
// object names and is replaced. Empty if `name` is not valid UTF-8.
std::wstring win32ObjectName(const char* kind, const std::string& name);

// Owns a kernel object handle; null when empty.
struct Win32Handle {
    HANDLE handle = nullptr;
    ~Win32Handle() {
        if (handle)
            ::CloseHandle(handle);
    }
};

}  // namespace xel::platform
