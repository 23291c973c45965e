#include "platform/known_folders.h"

#include "platform/win32_object.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>

// SHGetKnownFolderPath lives in shell32, CoTaskMemFree in ole32 and FOLDERID_PublicDocuments in
// uuid: all three are among the libraries that CMake links by default on Windows.

namespace xel::platform {
namespace {

const char kFixedPublicDocuments[] = "C:/Users/Public/Public Documents";

// Empty when `text` is not valid UTF-16.
std::string toUtf8(const wchar_t* text) {
    const int length = static_cast<int>(std::wcslen(text));
    if (length == 0)
        return {};
    const int bytes = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, length, nullptr, 0,
                                            nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string result(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, length, result.data(), bytes,
                          nullptr, nullptr);
    return result;
}

}  // namespace

const char* executableSuffix() {
    return ".exe";
}

std::string publicDocumentsFolder() {
    PWSTR path = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_PublicDocuments, 0, nullptr, &path);
    std::string folder = SUCCEEDED(result) && path ? toUtf8(path) : std::string();
    ::CoTaskMemFree(path);  // the call may hand out a buffer even when it fails
    if (folder.empty())
        return kFixedPublicDocuments;
    std::replace(folder.begin(), folder.end(), '\\', '/');
    return folder;
}

}  // namespace xel::platform
