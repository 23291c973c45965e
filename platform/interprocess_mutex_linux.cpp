// Inter-process mutexes on Linux: a robust, process-shared pthread mutex in a small shared mapping.
#include "platform/interprocess_mutex.h"

#include <pthread.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>

#include "platform/cpu_relax.h"
#include "platform/posix_shm_name.h"
#include "platform/thread_sanitizer.h"

namespace xel::platform {
namespace {

constexpr std::uint32_t kReady = 0x58454c4d;  // "XELM"

struct MutexBlock {
    pthread_mutex_t mutex;
    std::atomic<std::uint32_t> ready;  // kReady once the creator has initialised the mutex
};

const char kKind[] = "mutex";

// How long the lock spins before it sleeps: the segment lock is held for short passes, and a sleep
// followed by a wake-up costs far more than waiting them out.
constexpr int kSpinReads = 4096;

// Whether the mutex looks taken, without writing to it: glibc keeps the owner's thread id in the
// first word of a robust mutex, 0 when free. Spinning on a read keeps the cache line shared
// instead of bouncing it between the cores with every attempt.
bool looksTaken(pthread_mutex_t* mutex) {
    return __atomic_load_n(&mutex->__data.__lock, __ATOMIC_RELAXED) != 0;
}

// pthread_mutex_timedlock() takes a wall-clock deadline; waiting in short slices against a
// monotonic deadline keeps a clock change from stretching or cutting the wait.
int timedLock(pthread_mutex_t* mutex, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return ETIMEDOUT;
        const auto slice = std::min<Clock::duration>(left, std::chrono::milliseconds(100));
        timespec at{};
        ::clock_gettime(CLOCK_REALTIME, &at);
        const auto ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(slice).count() + at.tv_nsec;
        at.tv_sec += static_cast<time_t>(ns / 1000000000);
        at.tv_nsec = static_cast<long>(ns % 1000000000);
        const int rc = pthread_mutex_timedlock(mutex, &at);
        if (rc != ETIMEDOUT)
            return rc;
    }
}

}  // namespace

struct NativeMutex {
    MutexBlock* block = nullptr;
    void* sync = nullptr;
    ~NativeMutex() { unmapPosixShm(block, sizeof(MutexBlock)); }
};

std::unique_ptr<InterProcessMutex> InterProcessMutex::open(const std::string& name,
                                                           OpenMode openMode) {
    const bool fresh = openMode == OpenMode::CreateFresh;
    auto native = std::make_unique<NativeMutex>();
    bool created = false;
    native->block = static_cast<MutexBlock*>(
        mapPosixShm(posixShmName(kKind, name), sizeof(MutexBlock), fresh, fresh, &created));
    if (!native->block)
        return nullptr;
    if (created) {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        const int rc = pthread_mutex_init(&native->block->mutex, &attr);
        pthread_mutexattr_destroy(&attr);
        if (rc != 0)
            return nullptr;
        native->block->ready.store(kReady, std::memory_order_release);
    } else if (native->block->ready.load(std::memory_order_acquire) != kReady) {
        return nullptr;  // the creator has not finished, or this is not one of our objects
    }
    native->sync = syncToken(posixShmName(kKind, name));
    return std::unique_ptr<InterProcessMutex>(new InterProcessMutex(std::move(native)));
}

void InterProcessMutex::remove(const std::string& name) {
    ::shm_unlink(posixShmName(kKind, name).c_str());
}

InterProcessMutex::InterProcessMutex(std::unique_ptr<NativeMutex> native)
    : m_native(std::move(native)) {}

InterProcessMutex::~InterProcessMutex() = default;

InterProcessMutex::LockResult InterProcessMutex::lock(int timeoutMs) {
    pthread_mutex_t* mutex = &m_native->block->mutex;
    int rc = pthread_mutex_trylock(mutex);
    for (int i = 0; rc == EBUSY && i < kSpinReads; ++i) {
        cpuRelax();
        if (!looksTaken(mutex))
            rc = pthread_mutex_trylock(mutex);
    }
    if (rc == EBUSY)
        rc = timeoutMs < 0 ? pthread_mutex_lock(mutex) : timedLock(mutex, timeoutMs);
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(mutex);
        syncAcquire(m_native->sync);
        return LockResult::LockedOwnerDied;
    }
    if (rc == 0) {
        syncAcquire(m_native->sync);
        return LockResult::Locked;
    }
    return rc == ETIMEDOUT ? LockResult::TimedOut : LockResult::Failed;
}

void InterProcessMutex::unlock() {
    syncRelease(m_native->sync);
    pthread_mutex_unlock(&m_native->block->mutex);
}

}  // namespace xel::platform
