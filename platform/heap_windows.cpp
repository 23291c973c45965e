#include "platform/heap.h"

namespace xel::platform {

// The process heap keeps freed blocks for reuse by itself.
void keepFreedHeapMemory() {}

}  // namespace xel::platform
