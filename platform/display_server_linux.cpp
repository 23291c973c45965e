#include "platform/display_server.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

namespace xel::platform {
namespace {

constexpr long kTcpPortBase = 6000;
constexpr long kHighestPort = 65535;
constexpr char kSocketBase[] = "/tmp/.X11-unix/X";

// One socket, closed with its owner.
class Socket {
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return m_fd; }

private:
    int m_fd;
};

std::string errorText(int error) {
    return std::generic_category().message(error);
}

// Connects a fresh socket of `family` to `address`, waiting at most `timeoutMs`. Empty on
// success, else why not.
std::string connectWithin(int family, const sockaddr* address, socklen_t length, int timeoutMs) {
    const Socket socket(::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.fd() < 0)
        return errorText(errno);
    if (::connect(socket.fd(), address, length) == 0)
        return {};
    // A local socket whose queue is full has a server behind it, busy.
    if (errno == EAGAIN && family == AF_UNIX)
        return {};
    if (errno != EINPROGRESS)
        return errorText(errno);
    pollfd ready{socket.fd(), POLLOUT, 0};
    int count = 0;
    do {
        count = ::poll(&ready, 1, timeoutMs);
    } while (count < 0 && errno == EINTR);
    if (count < 0)
        return errorText(errno);
    if (count == 0)
        return "no answer within " + std::to_string(timeoutMs) + " ms";
    int error = 0;
    socklen_t size = sizeof(error);
    if (::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return errorText(errno);
    return error == 0 ? std::string() : errorText(error);
}

// A local socket at `path`; `abstract` puts it in the abstract namespace (written "@path").
std::string connectLocal(const std::string& path, bool abstract, int timeoutMs) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof(address.sun_path))
        return "path too long";
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    // Abstract: the leading NUL and the name. A path: the name and its terminating NUL.
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
    return connectWithin(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length, timeoutMs);
}

struct Attempts {
    std::vector<std::string> failures;  // "where (why)"

    // True when `result` (empty or why not) says it connected; keeps the failure otherwise.
    bool note(const std::string& where, const std::string& result, std::string& connectedAt) {
        if (result.empty()) {
            connectedAt = where;
            return true;
        }
        failures.push_back(where + " (" + result + ")");
        return false;
    }

    std::string summary() const {
        std::string text = "nothing takes connections at ";
        for (std::size_t i = 0; i < failures.size(); ++i)
            text += (i > 0 ? ", " : "") + failures[i];
        return text;
    }
};

// Every address of `host` on `port`, in the resolver's order, until one connects.
bool connectTcp(std::string host, long port, int timeoutMs, Attempts& attempts,
                std::string& connectedAt) {
    const std::string where = host + ":" + std::to_string(port);
    if (port > kHighestPort) {
        attempts.failures.push_back(where + " (no such port)");
        return false;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_NUMERICSERV;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        hints.ai_family = AF_INET6;
        hints.ai_flags |= AI_NUMERICHOST;
    }
    addrinfo* found = nullptr;
    const int lookup = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (lookup != 0) {
        attempts.failures.push_back(where + " (" + ::gai_strerror(lookup) + ")");
        return false;
    }
    bool connected = false;
    std::string lastFailure = "no address";
    for (const addrinfo* address = found; address && !connected; address = address->ai_next) {
        lastFailure =
            connectWithin(address->ai_family, address->ai_addr, address->ai_addrlen, timeoutMs);
        connected = lastFailure.empty();
    }
    ::freeaddrinfo(found);
    return attempts.note(where, connected ? std::string() : lastFailure, connectedAt);
}

bool allDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

DisplayServerCheck reachable(const std::string& where) {
    return {DisplayServerCheck::State::Reachable, where};
}

DisplayServerCheck unreachable(const std::string& why) {
    return {DisplayServerCheck::State::Unreachable, why};
}

// "<path to socket>[.<screen>]": the path as given, then without a screen number.
DisplayServerCheck checkSocketPath(const std::string& path, int timeoutMs) {
    Attempts attempts;
    std::string connectedAt;
    if (attempts.note(path, connectLocal(path, false, timeoutMs), connectedAt))
        return reachable(connectedAt);
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && allDigits(path.substr(dot + 1))) {
        const std::string socketPath = path.substr(0, dot);
        if (attempts.note(socketPath, connectLocal(socketPath, false, timeoutMs), connectedAt))
            return reachable(connectedAt);
    }
    return unreachable(attempts.summary());
}

}  // namespace

DisplayServerCheck checkDisplayServer(const std::string& display, int timeoutMs) {
    if (display.empty())
        return unreachable("no display named");
    if (display.front() == '/')
        return checkSocketPath(display, timeoutMs);
    if (display.compare(0, 6, "unix:/") == 0)
        return checkSocketPath(display.substr(5), timeoutMs);

    std::string protocol;
    std::string rest = display;
    const std::size_t slash = rest.rfind('/');
    if (slash != std::string::npos) {
        protocol = rest.substr(0, slash);
        rest = rest.substr(slash + 1);
        if (protocol != "unix" && protocol != "tcp" && protocol != "inet" && protocol != "inet6")
            return unreachable("unknown protocol \"" + protocol + "\"");
    }
    const std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos)
        return unreachable("not a display name");
    const std::string host = rest.substr(0, colon);
    std::string number = rest.substr(colon + 1);
    const std::size_t dot = number.find('.');
    if (dot != std::string::npos) {
        if (!allDigits(number.substr(dot + 1)))
            return unreachable("not a display name");
        number.resize(dot);
    }
    // At most 9 digits: a display number that fits a long.
    if (!allDigits(number) || number.size() > 9)
        return unreachable("not a display name");
    const long port = kTcpPortBase + std::stol(number);

    Attempts attempts;
    std::string connectedAt;
    const bool local = protocol == "unix" || host.empty() || host == "unix";
    if (!local) {
        if (connectTcp(host, port, timeoutMs, attempts, connectedAt))
            return reachable(connectedAt);
        return unreachable(attempts.summary());
    }
    const std::string path = kSocketBase + number;
    if (attempts.note("@" + path, connectLocal(path, true, timeoutMs), connectedAt) ||
        attempts.note(path, connectLocal(path, false, timeoutMs), connectedAt))
        return reachable(connectedAt);
    if (protocol.empty() && host.empty() &&
        connectTcp("localhost", port, timeoutMs, attempts, connectedAt))
        return reachable(connectedAt);
    return unreachable(attempts.summary());
}

}  // namespace xel::platform
