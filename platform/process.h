// Process identity.
#pragma once

#include <cstdint>

namespace xel::platform {

// The id of the calling process.
std::int64_t currentProcessId();

// Whether a process with this id exists now. A process id can be reused after its process ended.
bool processExists(std::int64_t pid);

}  // namespace xel::platform
