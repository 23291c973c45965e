// Tells ThreadSanitizer about synchronisation it cannot see: two handles of one named object can
// sit at different addresses (two mappings of the same memory), so an ordering made through one
// object is invisible to it. Each name gets one process-wide token; a release on a set or unlock
// and an acquire on a wait or lock make the ordering visible. Without ThreadSanitizer these do
// nothing.
#pragma once

#include <string>

namespace xel::platform {

#if defined(__SANITIZE_THREAD__)
void* syncToken(const std::string& name);
void syncRelease(void* token);
void syncAcquire(void* token);
#else
inline void* syncToken(const std::string&) {
    return nullptr;
}
inline void syncRelease(void*) {}
inline void syncAcquire(void*) {}
#endif

}  // namespace xel::platform
