#include "platform/process.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace xel::platform
