#include "platform/private_folder.h"

#include "platform/win32_object.h"

#include <QString>

#include <random>

namespace xel::platform {
namespace {

// How many random names makeUniquePrivateFolder() tries before it gives up.
constexpr int kAttempts = 100;

std::wstring widePath(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size())).toStdWString();
}

bool isFolderNotLink(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

bool makePrivateFolder(const std::string& path) {
    if (path.empty())
        return false;
    const std::wstring wide = widePath(path);
    if (!::CreateDirectoryW(wide.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    return isFolderNotLink(wide);
}

std::string makeUniquePrivateFolder(const std::string& parent, const std::string& prefix) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::uniform_int_distribution<int> letter(0, static_cast<int>(sizeof kLetters) - 2);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string path = parent + "/" + prefix + "-";
        for (int i = 0; i < 12; ++i)
            path += kLetters[letter(random)];
        // Fails when the name exists: the folder is always a new one.
        if (::CreateDirectoryW(widePath(path).c_str(), nullptr))
            return path;
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return {};
    }
    return {};
}

}  // namespace xel::platform
