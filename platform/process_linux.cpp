#include "platform/process.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace xel::platform {

std::int64_t currentProcessId() {
    return ::getpid();
}

std::int64_t parentProcessId() {
    return ::getppid();
}

bool processExists(std::int64_t pid) {
    if (pid <= 0)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool limitOwnMemory(std::uint64_t bytes) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    (void)bytes;
    return false;  // their shadow memory is reserved address space
#else
    const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
    return ::setrlimit(RLIMIT_AS, &limit) == 0;
#endif
}

std::int64_t privateMemoryBytes() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    std::int64_t bytes = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
        long long kib = 0;
        if (std::sscanf(line, "RssAnon: %lld kB", &kib) == 1) {
            bytes = kib * 1024;
            break;
        }
    }
    std::fclose(status);
    return bytes;
}

}  // namespace xel::platform
