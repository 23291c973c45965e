#include "tests/support/blocked_name.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix_shm_name.h"

namespace xel::test {

// A directory where the shared-memory object would be.
struct BlockedObjectName::Holder {
    std::string path;
    bool made = false;
};

BlockedObjectName::BlockedObjectName(const char* kind, const std::string& name)
    : m_holder(std::make_unique<Holder>()) {
    m_holder->path = "/dev/shm" + platform::posixShmName(kind, name);
    m_holder->made = ::mkdir(m_holder->path.c_str(), 0700) == 0;
}

BlockedObjectName::~BlockedObjectName() {
    if (m_holder->made)
        ::rmdir(m_holder->path.c_str());
}

bool BlockedObjectName::blocked() const {
    return m_holder->made;
}

}  // namespace xel::test
