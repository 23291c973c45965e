// Process watches on Linux: a pidfd, which refers to the process itself and becomes readable when
// it ends, and an eventfd to cancel a wait. Kernels without pidfd_open fall back to checking the
// id twice a second.
#include "platform/process_watch.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process.h"

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

namespace xel::platform {

struct NativeProcessWatch {
    int pidfd = -1;
    int cancelfd = -1;
    bool goneAtStart = false;
    ~NativeProcessWatch() {
        if (pidfd >= 0)
            ::close(pidfd);
        if (cancelfd >= 0)
            ::close(cancelfd);
    }
};

ProcessWatch::ProcessWatch(std::int64_t pid)
    : m_pid(pid), m_native(std::make_unique<NativeProcessWatch>()) {
    m_native->cancelfd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (pid <= 0) {
        m_native->goneAtStart = true;
        return;
    }
    m_native->pidfd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (m_native->pidfd < 0 && errno == ESRCH)
        m_native->goneAtStart = true;
}

ProcessWatch::~ProcessWatch() = default;

bool ProcessWatch::hasEnded() const {
    if (m_native->goneAtStart)
        return true;
    if (m_native->pidfd < 0)
        return !processExists(m_pid);
    pollfd entry{m_native->pidfd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
}

bool ProcessWatch::waitForEnd() {
    for (;;) {
        if (hasEnded())
            return true;
        pollfd entries[2] = {{m_native->cancelfd, POLLIN, 0}, {m_native->pidfd, POLLIN, 0}};
        const int count = m_native->pidfd >= 0 ? 2 : 1;
        const int ready = ::poll(entries, count, m_native->pidfd >= 0 ? -1 : 500);
        if (ready > 0 && (entries[0].revents & POLLIN))
            return false;
        if (ready < 0 && errno != EINTR)
            return hasEnded();
    }
}

namespace {

void signalProcess(const NativeProcessWatch& native, std::int64_t pid, int signal) {
    if (native.pidfd >= 0)
        ::syscall(SYS_pidfd_send_signal, native.pidfd, signal, nullptr, 0);
    else
        ::kill(static_cast<pid_t>(pid), signal);
}

}  // namespace

void ProcessWatch::terminate() {
    if (!hasEnded())
        signalProcess(*m_native, m_pid, SIGKILL);
}

void ProcessWatch::suspend() {
    if (!hasEnded())
        signalProcess(*m_native, m_pid, SIGSTOP);
}

void ProcessWatch::resume() {
    if (!hasEnded())
        signalProcess(*m_native, m_pid, SIGCONT);
}

void ProcessWatch::cancel() {
    const std::uint64_t one = 1;
    if (::write(m_native->cancelfd, &one, sizeof one) < 0) {
        // The counter is full only after 2^64 - 2 cancels: it is readable already.
    }
}

}  // namespace xel::platform
