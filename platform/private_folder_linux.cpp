#include "platform/private_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace xel::platform {
namespace {

constexpr mode_t kPrivateMode = 0700;

// Whether the folder at `path` is private, giving it the private mode first when `madeHere`. The
// folder is opened without following a link, so the checks and the mode change reach the very
// folder whose owner was checked, whatever replaces the name meanwhile.
bool isPrivateFolder(const std::string& path, bool madeHere) {
    const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return false;
    struct stat info {};
    bool isPrivate =
        ::fstat(folder, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
    if (isPrivate && madeHere && (info.st_mode & 07777) != kPrivateMode)
        isPrivate = ::fchmod(folder, kPrivateMode) == 0 && ::fstat(folder, &info) == 0;
    isPrivate = isPrivate && (info.st_mode & 07777) == kPrivateMode;
    ::close(folder);
    return isPrivate;
}

}  // namespace

bool makePrivateFolder(const std::string& path) {
    if (path.empty())
        return false;
    if (::mkdir(path.c_str(), kPrivateMode) == 0)
        return isPrivateFolder(path, true);
    return errno == EEXIST && isPrivateFolder(path, false);
}

std::string makeUniquePrivateFolder(const std::string& parent, const std::string& prefix) {
    const std::string pattern = parent + "/" + prefix + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkdtemp() makes the folder with mode 0700 under a name nobody could take before.
    if (!::mkdtemp(name.data()))
        return {};
    const std::string path(name.data());
    if (!isPrivateFolder(path, true)) {
        ::rmdir(path.c_str());
        return {};
    }
    return path;
}

}  // namespace xel::platform
