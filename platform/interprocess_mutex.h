// A mutex shared by the processes of one user, addressed by name.
#pragma once

#include <memory>
#include <string>

namespace xel::platform {

struct NativeMutex;

// Excludes threads of all processes that open the same name, one owner at a time; the owner is a
// thread, so a second thread of the same process blocks like any other. It is robust: when the
// owning process dies while holding it, the next lock() succeeds and reports it, and the data it
// guards may be half-written. Not recursive.
class InterProcessMutex {
public:
    enum class OpenMode {
        // Opens a mutex that a creator has made; fails if there is none.
        OpenExisting,
        // Unlinks any mutex of that name (a live holder keeps its old object) and creates a new
        // one.
        CreateFresh,
    };
    enum class LockResult {
        Locked,
        // Locked, but the previous owner died holding it.
        LockedOwnerDied,
        // Not locked: the owner held it for the whole timeout.
        TimedOut,
        Failed,
    };

    // Returns null on failure.
    static std::unique_ptr<InterProcessMutex> open(const std::string& name, OpenMode openMode);
    static void remove(const std::string& name);

    ~InterProcessMutex();
    InterProcessMutex(const InterProcessMutex&) = delete;
    InterProcessMutex& operator=(const InterProcessMutex&) = delete;

    // Waits up to timeoutMs on a monotonic clock (a negative value waits without limit). A lock
    // that is free again within a few microseconds is taken without sleeping.
    LockResult lock(int timeoutMs = -1);
    void unlock();

private:
    explicit InterProcessMutex(std::unique_ptr<NativeMutex> native);

    std::unique_ptr<NativeMutex> m_native;
};

}  // namespace xel::platform
