// Named events on Linux: one word in a small shared mapping, waited on with a shared futex.
#include "platform/named_event.h"

#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <ctime>

#include "platform/posix_shm_name.h"
#include "platform/thread_sanitizer.h"

namespace xel::platform {
namespace {

struct EventBlock {
    std::atomic<std::uint32_t> state;    // 0 clear, 1 set
    std::atomic<std::uint32_t> waiters;  // threads of any process inside wait()
};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

const char kKind[] = "event";

long futexWait(std::atomic<std::uint32_t>* word, std::uint32_t expected, const timespec* timeout) {
    // FUTEX_WAIT without the private flag, so that waits on a shared mapping meet across
    // processes. The relative timeout runs on CLOCK_MONOTONIC.
    return ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAIT, expected,
                     timeout, nullptr, 0);
}

void futexWake(std::atomic<std::uint32_t>* word, int count) {
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE, count, nullptr,
              nullptr, 0);
}

}  // namespace

struct NativeEvent {
    EventBlock* block = nullptr;
    void* sync = nullptr;
    ~NativeEvent() { unmapPosixShm(block, sizeof(EventBlock)); }
};

std::unique_ptr<NamedEvent> NamedEvent::open(const std::string& name, ResetMode mode,
                                             OpenMode openMode) {
    auto native = std::make_unique<NativeEvent>();
    // A new object is zero-filled, which is the clear state.
    native->block = static_cast<EventBlock*>(mapPosixShm(
        posixShmName(kKind, name), sizeof(EventBlock), openMode != OpenMode::OpenExisting,
        openMode == OpenMode::CreateFresh, nullptr));
    if (!native->block)
        return nullptr;
    native->sync = syncToken(posixShmName(kKind, name));
    return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(native), mode));
}

void NamedEvent::remove(const std::string& name) {
    ::shm_unlink(posixShmName(kKind, name).c_str());
}

NamedEvent::NamedEvent(std::unique_ptr<NativeEvent> native, ResetMode mode)
    : m_native(std::move(native)), m_mode(mode) {}

NamedEvent::~NamedEvent() = default;

void NamedEvent::set() {
    EventBlock* b = m_native->block;
    syncRelease(m_native->sync);
    // Sequentially consistent on both sides: either the waiter sees the set state, or this sees
    // the waiter's registration and wakes it.
    const std::uint32_t previous = b->state.exchange(1);
    if (b->waiters.load() == 0)
        return;
    if (m_mode == ResetMode::Manual)
        futexWake(&b->state, INT_MAX);
    else if (previous == 0)
        futexWake(&b->state, 1);
}

void NamedEvent::reset() {
    m_native->block->state.store(0);
}

bool NamedEvent::wait(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    EventBlock* b = m_native->block;
    auto tryTake = [&] {
        if (m_mode == ResetMode::Manual)
            return b->state.load() == 1;
        std::uint32_t expected = 1;
        return b->state.compare_exchange_strong(expected, 0);
    };
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (tryTake()) {
            syncAcquire(m_native->sync);
            return true;
        }
        timespec remaining{};
        const timespec* timeout = nullptr;
        if (timeoutMs >= 0) {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero())
                return false;
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            remaining.tv_sec = static_cast<time_t>(ns / 1000000000);
            remaining.tv_nsec = static_cast<long>(ns % 1000000000);
            timeout = &remaining;
        }
        b->waiters.fetch_add(1);
        if (b->state.load() == 0)
            futexWait(&b->state, 0, timeout);
        b->waiters.fetch_sub(1);
    }
}

}  // namespace xel::platform
