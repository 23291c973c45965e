// Test support: running the process out of address space for one call, to see how code meets a
// failed allocation.
#pragma once

#include <cstddef>

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
    // Whether this system lets a process cap its own address space and lift the cap again (not
    // Windows: a job's memory limit outlives the code that sets it).
    static bool available();

    explicit AddressSpaceLimit(std::size_t headroom);
    ~AddressSpaceLimit();
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;

    // Whether the limit took (it is tighter than the one before).
    bool set() const { return m_set; }

private:
    // The limit before, as the system gives it.
    unsigned long long m_savedCurrent = 0;
    unsigned long long m_savedMaximum = 0;
    bool m_set = false;
};

}  // namespace xel::test
