#include "platform/process.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
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

std::string currentExecutablePath() {
    char path[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

std::int64_t startChildProcess(const std::string& program,
                               const std::vector<std::string>& arguments, int inheritedDescriptor) {
    // Everything the child needs is built before the fork: between fork and exec it may only make
    // async-signal-safe calls, as the caller may have other threads.
    std::vector<std::string> copies;
    copies.reserve(arguments.size() + 1);
    copies.push_back(program);
    copies.insert(copies.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(copies.size() + 1);
    for (std::string& copy : copies)
        argv.push_back(copy.data());
    argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (inheritedDescriptor >= 0 && ::fcntl(inheritedDescriptor, F_SETFD, 0) != 0)
            ::_exit(127);
        // A parent that ended before the death signal was asked for would never send it.
        if (::getppid() == parent)
            ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return child > 0 ? child : -1;
}

int waitForChildExit(std::int64_t pid) {
    if (pid <= 0)
        return -1;
    int status = 0;
    pid_t done = -1;
    do {
        done = ::waitpid(static_cast<pid_t>(pid), &status, 0);
    } while (done < 0 && errno == EINTR);
    if (done != static_cast<pid_t>(pid) || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
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
