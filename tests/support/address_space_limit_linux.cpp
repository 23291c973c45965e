#include "tests/support/address_space_limit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

namespace xel::test {

bool AddressSpaceLimit::available() {
    return true;
}

AddressSpaceLimit::AddressSpaceLimit(std::size_t headroom) {
    rlimit saved{};
    if (::getrlimit(RLIMIT_AS, &saved) != 0)
        return;
    m_savedCurrent = saved.rlim_cur;
    m_savedMaximum = saved.rlim_max;
    std::ifstream statm("/proc/self/statm");  // its first field: the pages mapped
    rlim_t pages = 0;
    statm >> pages;
    rlimit tight = saved;
    tight.rlim_cur = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + headroom;
    m_set = (saved.rlim_cur == RLIM_INFINITY || tight.rlim_cur < saved.rlim_cur) &&
            ::setrlimit(RLIMIT_AS, &tight) == 0;
}

AddressSpaceLimit::~AddressSpaceLimit() {
    if (!m_set)
        return;
    rlimit saved{};
    saved.rlim_cur = static_cast<rlim_t>(m_savedCurrent);
    saved.rlim_max = static_cast<rlim_t>(m_savedMaximum);
    ::setrlimit(RLIMIT_AS, &saved);
}

}  // namespace xel::test
