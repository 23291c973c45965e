#include "platform/win32_object.h"

namespace xel::platform {

std::wstring win32ObjectName(const char* kind, const std::string& name) {
    std::string utf8 = std::string("Local\\xelipc-") + kind + "-";
    for (char c : name)
        utf8 += (c == '\\') ? '_' : c;
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                             static_cast<int>(utf8.size()), nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                          result.data(), length);
    return result;
}

}  // namespace xel::platform
