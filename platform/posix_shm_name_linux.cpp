#include "platform/posix_shm_name.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>

namespace xel::platform {

std::string posixShmName(const std::string& kind, const std::string& name) {
    std::string result = "/xelipc-" + std::to_string(::getuid()) + "-" + kind + "-";
    for (char c : name)
        result += (c == '/') ? '_' : c;
    return result;
}

void* mapPosixShm(const std::string& shmName, std::size_t bytes, bool create, bool fresh,
                  bool* created) {
    if (created)
        *created = false;
    if (fresh)
        ::shm_unlink(shmName.c_str());
    int fd = -1;
    if (create) {
        fd = ::shm_open(shmName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 && created)
            *created = true;
        if (fd < 0 && errno == EEXIST && !fresh)
            fd = ::shm_open(shmName.c_str(), O_RDWR | O_CLOEXEC, 0600);
    } else {
        fd = ::shm_open(shmName.c_str(), O_RDWR | O_CLOEXEC, 0600);
    }
    if (fd < 0)
        return nullptr;
    // Growing an object zero-fills it; growing it to the size it already has changes nothing, so
    // a creator and an opener racing here both leave a zeroed or an intact object.
    struct stat st {};
    if (::fstat(fd, &st) != 0 ||
        (static_cast<std::size_t>(st.st_size) < bytes && ::ftruncate(fd, bytes) != 0)) {
        ::close(fd);
        return nullptr;
    }
    void* address = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    return address == MAP_FAILED ? nullptr : address;
}

std::vector<std::string> listPosixShmNames(const std::string& kind) {
    // POSIX shared memory objects are the files of /dev/shm on Linux.
    const std::string prefix = posixShmName(kind, "").substr(1);
    std::vector<std::string> names;
    if (DIR* dir = ::opendir("/dev/shm")) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string file = entry->d_name;
            if (file.compare(0, prefix.size(), prefix) == 0)
                names.push_back(file.substr(prefix.size()));
        }
        ::closedir(dir);
    }
    return names;
}

void unmapPosixShm(void* address, std::size_t bytes) {
    if (address)
        ::munmap(address, bytes);
}

}  // namespace xel::platform
