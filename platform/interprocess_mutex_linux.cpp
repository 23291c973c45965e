// Inter-process mutexes on Linux: a robust, process-shared pthread mutex in a small shared mapping.
#include "platform/interprocess_mutex.h"

#include <pthread.h>
#include <sys/mman.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

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

InterProcessMutex::LockResult InterProcessMutex::lock() {
    pthread_mutex_t* mutex = &m_native->block->mutex;
    const int rc = pthread_mutex_lock(mutex);
    if (rc == 0)
        return LockResult::Locked;
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(mutex);
        return LockResult::LockedOwnerDied;
    }
    return LockResult::Failed;
}

void InterProcessMutex::unlock() {
    pthread_mutex_unlock(&m_native->block->mutex);
}

}  // namespace xel::platform
