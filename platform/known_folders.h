// Folders and file names that the operating system fixes for programs.
#pragma once

#include <string>

namespace xel::platform {

// What the system appends to the name of an executable program: ".exe" on Windows, nothing
// elsewhere. Static text.
const char* executableSuffix();

// The folder for documents shared by the users of this machine, in UTF-8 with forward slashes and
// no trailing slash. When the system names no such folder, a fixed one stands in:
// "C:/Users/Public/Public Documents" on Windows, the user's home folder elsewhere. The folder may
// not exist. Empty only when the user has no home folder at all. Reads the environment and the
// user's configuration on every call; any thread, but not while the environment changes.
//
// Outside Windows the folder is the XDG public-share folder: XDG_PUBLICSHARE_DIR from the
// environment, else from $XDG_CONFIG_HOME/user-dirs.dirs (~/.config/user-dirs.dirs when
// XDG_CONFIG_HOME is unset or not absolute), "$HOME" expanded in either; a value that is not an
// absolute path after expansion counts as absent. Without one it is $HOME/Public; with $HOME unset
// or empty, the stand-in is the home folder recorded for the user in the password database.
std::string publicDocumentsFolder();

}  // namespace xel::platform
