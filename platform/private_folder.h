// Folders that only the calling user may use.
#pragma once

#include <string>

namespace xel::platform {

// Makes the folder `path` (UTF-8) for the calling user alone, or finds it made so. True when
// `path` is then a folder, not a symbolic link, that belongs to the calling user and that nobody
// else may read, write or enter: on Linux owned by the effective user with mode exactly 0700 (a
// folder made here gets that mode whatever the umask). Anything else found at `path` (a link, a
// file, another user's folder, a folder of wider or narrower mode) is left as it is, and the
// answer is false; so is the answer when the folder cannot be made. The parent folder must exist.
// On Windows, where a user's temporary folder is private already, the folder is made normally and
// the answer is whether `path` is a folder and no link. Any thread.
bool makePrivateFolder(const std::string& path);

// Makes a new folder in the existing folder `parent` (UTF-8), named `prefix`, "-" and characters
// chosen at random so that nobody can foresee the name, private as makePrivateFolder() makes it.
// Its path (parent, "/", name), or empty when no folder could be made. Any thread.
std::string makeUniquePrivateFolder(const std::string& parent, const std::string& prefix);

}  // namespace xel::platform
