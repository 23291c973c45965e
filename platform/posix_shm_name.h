// Shared-memory object names for the platform objects of this library (Linux).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace xel::platform {

// The shm_open name for an object of this library: private to the user, so that two users with
// the same object name never meet.
std::string posixShmName(const std::string& kind, const std::string& name);

// Maps `bytes` of the named object read-write, creating it if asked. Returns nullptr on failure.
// `created` reports whether this call made the object. With `fresh`, any object of that name is
// unlinked first and the new one is made exclusively.
void* mapPosixShm(const std::string& shmName, std::size_t bytes, bool create, bool fresh,
                  bool* created);
void unmapPosixShm(void* address, std::size_t bytes);

// The names given to posixShmName(kind, name) of the objects of `kind` that exist now.
std::vector<std::string> listPosixShmNames(const std::string& kind);

}  // namespace xel::platform
