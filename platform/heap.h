// How the process's heap treats freed memory.
#pragma once

namespace xel::platform {

// Has the heap keep memory that is freed for the allocations that follow, instead of handing it
// back to the system at once. For a program that receives large messages again and again (the
// render window: delivery buffers and scene arrays come and go with every scene sent): a freed
// block is reused without the cost of the system providing fresh pages. Call once, early, on the
// main thread, before other threads allocate. Where the heap keeps freed memory anyway, it does
// nothing.
void keepFreedHeapMemory();

}  // namespace xel::platform
