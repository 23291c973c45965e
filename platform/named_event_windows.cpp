// Named events on Windows: kernel event objects in the session's local name space.
#include "platform/named_event.h"

#include "platform/win32_object.h"

namespace xel::platform {

struct NativeEvent : Win32Handle {};

std::unique_ptr<NamedEvent> NamedEvent::open(const std::string& name, ResetMode mode,
                                             OpenMode openMode) {
    const std::wstring objectName = win32ObjectName("event", name);
    if (objectName.empty())
        return nullptr;
    auto native = std::make_unique<NativeEvent>();
    // Opens the existing event of that name if there is one; its reset mode stays the one it was
    // created with.
    if (openMode == OpenMode::OpenExisting)
        native->handle = ::OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, objectName.c_str());
    else
        native->handle = ::CreateEventW(nullptr, mode == ResetMode::Manual ? TRUE : FALSE, FALSE,
                                        objectName.c_str());
    if (!native->handle)
        return nullptr;
    // An event cannot be unlinked here, but it vanishes with its last handle, so an existing one
    // belongs to a live holder. Clearing it leaves nothing set that an earlier session signalled.
    if (openMode == OpenMode::CreateFresh)
        ::ResetEvent(native->handle);
    return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(native), mode));
}

// Nothing to remove: the name goes away with the last handle to the event.
void NamedEvent::remove(const std::string&) {}

NamedEvent::NamedEvent(std::unique_ptr<NativeEvent> native, ResetMode mode)
    : m_native(std::move(native)), m_mode(mode) {}

NamedEvent::~NamedEvent() = default;

void NamedEvent::set() {
    ::SetEvent(m_native->handle);
}

void NamedEvent::reset() {
    ::ResetEvent(m_native->handle);
}

bool NamedEvent::wait(int timeoutMs) {
    // Wait timeouts run on the system's interrupt time, which does not follow wall-clock changes.
    const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    return ::WaitForSingleObject(m_native->handle, timeout) == WAIT_OBJECT_0;
}

}  // namespace xel::platform
