// A hint to the processor inside a busy-wait loop: lets the sibling hardware thread run and saves
// power while the loop polls memory that another core will change.
#pragma once

namespace xel::platform {

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

}  // namespace xel::platform
