// Process identity.
#pragma once

#include <cstdint>

namespace xel::platform {

// The id of the calling process.
std::int64_t currentProcessId();

// The id of the process that started the calling one, 0 if there is none. A process started
// detached may have been handed to the system's reaper: its parent is then not its starter.
std::int64_t parentProcessId();

// Whether a process with this id exists now. A process id can be reused after its process ended.
bool processExists(std::int64_t pid);

// The calling process's private memory in bytes: what it holds resident of its own (heap, stacks,
// private mappings; not shared memory it maps) where the system tells, else its private commit.
// -1 when the system does not say.
std::int64_t privateMemoryBytes();

// Caps the memory the calling process may take (its address space where the system limits that)
// at `bytes`: an allocation past it fails. For a process that runs code it does not trust to stay
// within bounds. Returns false, changing nothing, where the system offers no such cap or where a
// sanitizer's runtime needs the address space for itself.
bool limitOwnMemory(std::uint64_t bytes);

}  // namespace xel::platform
