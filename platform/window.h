// Native windows of other programs, named by their handles carried as integers.
#pragma once

#include <cstdint>

namespace xel::platform {

// Asks the system to make `window` the active window. On Windows this is SetActiveWindow, which
// acts only on a top-level window of the calling thread's message queue (the host's main window
// when called on the host thread) and is ignored otherwise. A null handle does nothing. Elsewhere
// this process has no window system of its own to ask, and nothing happens. Reports nothing.
void activateWindow(std::int64_t window);

// The id of the process that created `window`. For a null handle: the calling thread's active
// window, else the foreground window, and that window's owner when it has one. 0 when there is no
// such window or the handle is not a valid window. Outside Windows there is no window system of
// this process to ask, and the answer is always 0.
std::uint64_t windowOwnerProcess(std::intptr_t window);

}  // namespace xel::platform
