// The display server a window system draws through: whether the one a display name points at
// takes connections, checked before any window-system library starts on it.
#pragma once

#include <string>

namespace xel::platform {

struct DisplayServerCheck {
    enum class State {
        // This system's window system is not a server found by such a name: nothing was checked.
        NotUsed,
        // A server took a connection, which was closed again before a word of its protocol. It
        // may still refuse a client later (authorisation, protocol).
        Reachable,
        // Nothing took a connection, or the name names no server.
        Unreachable,
    };
    State state = State::NotUsed;
    // Reachable: where the connection was taken. Unreachable: why none was, for a person to read.
    std::string detail;
};

// Checks the X display that `display` names, written as the DISPLAY variable is:
// "[protocol/][host]:number[.screen]", or the path of a socket. It connects where the X client
// library would: for a host other than "" and "unix", to TCP port 6000 + number on that host;
// otherwise to this machine's socket for that number, and, with neither host nor protocol given,
// then to TCP port 6000 + number on "localhost". Waits at most `timeoutMs` for each address to
// answer (a host name's lookup is not bounded). On systems whose window system is not an X server
// the answer is NotUsed. Blocking; any thread.
DisplayServerCheck checkDisplayServer(const std::string& display, int timeoutMs);

}  // namespace xel::platform
