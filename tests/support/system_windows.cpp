#include "tests/support/system.h"

#include "platform/win32_object.h"

namespace xel::test {

// Wine's ntdll has an export of its own that Windows' lacks.
bool runningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace xel::test
