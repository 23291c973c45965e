// Named events on Linux: one word in a small shared mapping, waited on with a shared futex.
#include "platform/named_event.h"

#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <ctime>
#include <thread>

#include "platform/cpu_relax.h"
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

using Clock = std::chrono::steady_clock;

// The spin budget of a handle, in nanoseconds. For the first kPauseOnlyNs the spin only polls;
// after that it also yields the core, so that on a machine with few cores the thread it waits for
// gets to run.
constexpr std::int64_t kMinSpinNs = 1000;
constexpr std::int64_t kInitialSpinNs = 20000;
constexpr std::int64_t kMaxSpinNs = 50000;
constexpr std::int64_t kPauseOnlyNs = 4000;

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
    std::atomic<std::int64_t> spinNs{kInitialSpinNs};
    ~NativeEvent() { unmapPosixShm(block, sizeof(EventBlock)); }

    // Polls the event for up to the handle's spin budget and adapts the budget: doubled when the
    // event came, halved when it did not. Returns whether `take` took the event.
    template <class Take>
    bool spin(Take take) {
        const std::int64_t budget = spinNs.load(std::memory_order_relaxed);
        const auto start = Clock::now();
        for (unsigned i = 1;; ++i) {
            if (block->state.load(std::memory_order_relaxed) != 0 && take()) {
                spinNs.store(std::min(budget * 2, kMaxSpinNs), std::memory_order_relaxed);
                return true;
            }
            if (i % 64 != 0) {
                cpuRelax();
                continue;
            }
            const std::int64_t elapsed =
                std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
            if (elapsed >= budget)
                break;
            if (elapsed >= kPauseOnlyNs)
                std::this_thread::yield();
        }
        spinNs.store(std::max(budget / 2, kMinSpinNs), std::memory_order_relaxed);
        return false;
    }
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
    // A set that nobody consumed yet needs no write: the line stays shared with a spinning waiter.
    if (b->state.load() == 1 && b->waiters.load() == 0)
        return;
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
    EventBlock* b = m_native->block;
    auto tryTake = [&] {
        if (m_mode == ResetMode::Manual)
            return b->state.load() == 1;
        std::uint32_t expected = 1;
        return b->state.compare_exchange_strong(expected, 0);
    };
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    if (timeoutMs != 0 && (tryTake() || m_native->spin(tryTake))) {
        syncAcquire(m_native->sync);
        return true;
    }
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
