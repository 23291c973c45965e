#include "platform/heap.h"

#include <malloc.h>

namespace xel::platform {

void keepFreedHeapMemory() {
    // Blocks up to the largest threshold glibc takes come from the heap rather than from mappings
    // of their own, which would be returned at free; and the top of the heap is not trimmed.
    constexpr int kLargestHeapBlock = 32 << 20;
    constexpr int kTrimThreshold = 1 << 30;
    ::mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
    ::mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
}

}  // namespace xel::platform
