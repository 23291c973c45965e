#include "platform/thread_sanitizer.h"

#if defined(__SANITIZE_THREAD__)

#include <map>
#include <memory>
#include <mutex>

extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);

namespace xel::platform {

void* syncToken(const std::string& name) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<char>> tokens;  // live until the process ends
    std::lock_guard<std::mutex> guard(mutex);
    auto& token = tokens[name];
    if (!token)
        token = std::make_unique<char>();
    return token.get();
}

void syncRelease(void* token) {
    __tsan_release(token);
}

void syncAcquire(void* token) {
    __tsan_acquire(token);
}

}  // namespace xel::platform

#endif
