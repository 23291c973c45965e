#include "tests/fuzz/guarded_segments.h"

#include <dlfcn.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>

namespace {

std::atomic<int> g_guarded{0};
std::atomic<int> g_unguarded{0};

using Shmat = void* (*)(int, const void*, int);

Shmat systemShmat() {
    static const auto real = reinterpret_cast<Shmat>(::dlsym(RTLD_NEXT, "shmat"));
    return real;
}

// Attaches segment `id` in the middle of a reservation one page larger on each side; the two
// outer pages stay inaccessible, also after the segment is detached. Null if it could not.
void* attachGuarded(int id, int flags) {
    shmid_ds info{};
    if (::shmctl(id, IPC_STAT, &info) != 0)
        return nullptr;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t bytes = (info.shm_segsz + page - 1) / page * page;
    void* reserved = ::mmap(nullptr, bytes + 2 * page, PROT_NONE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserved == MAP_FAILED)
        return nullptr;
    void* at = systemShmat()(id, static_cast<char*>(reserved) + page, flags | SHM_REMAP);
    if (at == reinterpret_cast<void*>(-1)) {
        ::munmap(reserved, bytes + 2 * page);
        return nullptr;
    }
    return at;
}

}  // namespace

// Takes the place of the C library's shmat() for the whole program, the libraries it loads
// included, so it is visible outside it. An explicit address is honoured as asked.
extern "C" __attribute__((visibility("default"))) void* shmat(int id, const void* address,
                                                              int flags) noexcept {
    if (address == nullptr) {
        if (void* at = attachGuarded(id, flags)) {
            g_guarded.fetch_add(1);
            return at;
        }
        g_unguarded.fetch_add(1);
    }
    return systemShmat()(id, address, flags);
}

namespace xel::fuzz {

int guardedSegments() {
    return g_guarded.load();
}

int unguardedSegments() {
    return g_unguarded.load();
}

}  // namespace xel::fuzz
