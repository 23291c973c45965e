// Inter-process mutexes on Windows: kernel mutex objects in the session's local name space.
#include "platform/interprocess_mutex.h"

#include "platform/win32_object.h"

namespace xel::platform {

struct NativeMutex : Win32Handle {};

std::unique_ptr<InterProcessMutex> InterProcessMutex::open(const std::string& name,
                                                           OpenMode openMode) {
    const std::wstring objectName = win32ObjectName("mutex", name);
    if (objectName.empty())
        return nullptr;
    auto native = std::make_unique<NativeMutex>();
    if (openMode == OpenMode::CreateFresh) {
        // A mutex cannot be unlinked here, but it vanishes with its last handle, so an existing
        // one belongs to a live holder and is shared with it. One whose owner died holding it
        // reports that to the next lock().
        native->handle = ::CreateMutexW(nullptr, FALSE, objectName.c_str());
    } else {
        native->handle = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, objectName.c_str());
    }
    if (!native->handle)
        return nullptr;
    return std::unique_ptr<InterProcessMutex>(new InterProcessMutex(std::move(native)));
}

// Nothing to remove: the name goes away with the last handle to the mutex.
void InterProcessMutex::remove(const std::string&) {}

InterProcessMutex::InterProcessMutex(std::unique_ptr<NativeMutex> native)
    : m_native(std::move(native)) {}

InterProcessMutex::~InterProcessMutex() = default;

// A kernel mutex would let its owning thread lock it again; callers must not rely on that.
InterProcessMutex::LockResult InterProcessMutex::lock(int timeoutMs) {
    const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    switch (::WaitForSingleObject(m_native->handle, timeout)) {
        case WAIT_OBJECT_0:
            return LockResult::Locked;
        case WAIT_ABANDONED:
            return LockResult::LockedOwnerDied;
        case WAIT_TIMEOUT:
            return LockResult::TimedOut;
        default:
            return LockResult::Failed;
    }
}

void InterProcessMutex::unlock() {
    ::ReleaseMutex(m_native->handle);
}

}  // namespace xel::platform
