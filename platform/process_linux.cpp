#include "platform/process.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

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

namespace {

// `entries` as a null-terminated array of pointers into them, for execve(); `entries` must outlive
// it and stay unchanged.
std::vector<char*> pointersTo(std::vector<std::string>& entries) {
    std::vector<char*> pointers;
    pointers.reserve(entries.size() + 1);
    for (std::string& entry : entries)
        pointers.push_back(entry.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Reads exactly `bytes` bytes, or fewer at the end of the stream or on an error.
std::size_t readFully(int fd, void* out, std::size_t bytes) {
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t got = ::read(fd, static_cast<char*>(out) + done, bytes - done);
        if (got > 0)
            done += static_cast<std::size_t>(got);
        else if (got == 0 || errno != EINTR)
            break;
    }
    return done;
}

// The file `program` names as the caller sees it: a bare name is looked up in the search path, a
// relative path is taken from the caller's working directory (the new process changes its own).
std::string programFile(const std::string& program) {
    if (program.empty() || program.front() == '/')
        return program;
    if (program.find('/') == std::string::npos) {
        const char* path = std::getenv("PATH");
        std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
        std::size_t begin = 0;
        while (begin <= folders.size()) {
            const std::size_t end = std::min(folders.find(':', begin), folders.size());
            const std::string folder = folders.substr(begin, end - begin);
            const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
            if (::access(candidate.c_str(), X_OK) == 0)
                return programFile(candidate);
            begin = end + 1;
        }
        return program;
    }
    char here[PATH_MAX];
    return ::getcwd(here, sizeof here) ? std::string(here) + "/" + program : program;
}

}  // namespace

std::int64_t startDetachedProcess(const std::string& program,
                                  const std::vector<std::string>& arguments,
                                  const std::string& workingDirectory,
                                  const std::vector<std::string>& environment) {
    // Everything the new processes need is built before the fork: between fork and exec they may
    // make async-signal-safe calls only (no allocation: another thread may hold the allocator).
    std::vector<std::string> argvEntries;
    argvEntries.reserve(arguments.size() + 1);
    argvEntries.push_back(programFile(program));
    argvEntries.insert(argvEntries.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envEntries;
    const auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string inherited(*entry);
        const bool replaced =
            std::any_of(environment.begin(), environment.end(),
                        [&](const std::string& e) { return nameOf(e) == nameOf(inherited); });
        if (!replaced)
            envEntries.push_back(inherited);
    }
    envEntries.insert(envEntries.end(), environment.begin(), environment.end());
    std::vector<char*> argv = pointersTo(argvEntries);
    std::vector<char*> envp = pointersTo(envEntries);
    const char* directory = workingDirectory.empty() ? nullptr : workingDirectory.c_str();

    // The middle process writes the program's id; the program's own copy of the write end closes
    // when it starts (close-on-exec), or first carries one byte when it cannot start.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    const pid_t middle = ::fork();
    if (middle == 0) {
        ::close(ends[0]);
        ::setsid();
        const pid_t started = ::fork();
        if (started == 0) {
            sigset_t none;
            ::sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            if (!directory || ::chdir(directory) == 0)
                ::execve(argv[0], argv.data(), envp.data());
            const char failed = 1;
            (void)!::write(ends[1], &failed, 1);
            ::_exit(127);
        }
        const pid_t id = started > 0 ? started : -1;
        (void)!::write(ends[1], &id, sizeof id);
        ::_exit(0);
    }
    ::close(ends[1]);
    pid_t id = -1;
    char failed = 0;
    if (middle < 0 || readFully(ends[0], &id, sizeof id) != sizeof id || id <= 0 ||
        readFully(ends[0], &failed, 1) != 0)
        id = -1;
    ::close(ends[0]);
    if (middle > 0) {
        while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    return id;
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
