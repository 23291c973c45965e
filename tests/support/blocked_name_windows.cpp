#include "tests/support/blocked_name.h"

#include "platform/win32_object.h"

namespace xel::test {

// A semaphore under the object's name: creating an event or a mutex of that name then fails.
struct BlockedObjectName::Holder {
    platform::Win32Handle semaphore;
};

BlockedObjectName::BlockedObjectName(const char* kind, const std::string& name)
    : m_holder(std::make_unique<Holder>()) {
    const std::wstring objectName = platform::win32ObjectName(kind, name);
    m_holder->semaphore.handle = ::CreateSemaphoreW(nullptr, 0, 1, objectName.c_str());
}

BlockedObjectName::~BlockedObjectName() = default;

bool BlockedObjectName::blocked() const {
    return m_holder->semaphore.handle != nullptr;
}

}  // namespace xel::test
