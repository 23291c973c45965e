// Test support: running the process out of address space for one call, to see how code meets a
// failed allocation.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <cstddef>
#include <fstream>

namespace xel::test {

// A sanitizer's allocator ends the process when memory runs out instead of throwing: tests of
// allocation failure skip themselves under one.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// While it lives, the process may map only `headroom` bytes more than it has mapped at its
// construction; the limit before comes back when it ends. The limit is the process's: no other
// thread should allocate meanwhile.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(std::size_t headroom) {
        if (::getrlimit(RLIMIT_AS, &m_saved) != 0)
            return;
        std::ifstream statm("/proc/self/statm");  // its first field: the pages mapped
        rlim_t pages = 0;
        statm >> pages;
        rlimit tight = m_saved;
        tight.rlim_cur = pages * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE)) + headroom;
        m_set = (m_saved.rlim_cur == RLIM_INFINITY || tight.rlim_cur < m_saved.rlim_cur) &&
                ::setrlimit(RLIMIT_AS, &tight) == 0;
    }
    ~AddressSpaceLimit() {
        if (m_set)
            ::setrlimit(RLIMIT_AS, &m_saved);
    }
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;

    // Whether the limit took (it is tighter than the one before).
    bool set() const { return m_set; }

private:
    rlimit m_saved{};
    bool m_set = false;
};

}  // namespace xel::test
