// The display server check against servers made here: a TCP listener on the loopback, a local
// socket at a path of the test's own and one in the abstract namespace under an X display's
// name; and names that name no server.
#include "platform/display_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using xel::platform::checkDisplayServer;
using xel::platform::DisplayServerCheck;
using State = DisplayServerCheck::State;

constexpr int kTimeoutMs = 5000;
// X display numbers the test may take: well above those of real displays, and apart from those
// the end-to-end tests take.
constexpr int kFirstNumber = 197;
constexpr int kLastNumber = 296;
constexpr int kTcpPortBase = 6000;

// A listening socket, closed with the object or by close().
class Listener {
public:
    Listener() = default;
    ~Listener() { close(); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Binds a fresh socket of `family` to `address` and listens; false, holding nothing, when the
    // address is taken.
    bool listenAt(int family, const sockaddr* address, socklen_t length) {
        close();
        m_fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd >= 0 && ::bind(m_fd, address, length) == 0 && ::listen(m_fd, 4) == 0)
            return true;
        close();
        return false;
    }
    void close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

bool listenOnLoopback(Listener& listener, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return listener.listenAt(AF_INET, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
}

bool listenLocally(Listener& listener, const std::string& path, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + (abstract ? 1 : 0), path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
    return listener.listenAt(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), length);
}

struct Case {
    std::string display;
    State state;
    std::string detail;  // Reachable: where; Unreachable: a part of why
};

void expectChecks(const std::vector<Case>& cases) {
    for (const Case& test : cases) {
        SCOPED_TRACE("DISPLAY=" + test.display);
        const DisplayServerCheck check = checkDisplayServer(test.display, kTimeoutMs);
        EXPECT_EQ(check.state, test.state) << check.detail;
        if (test.state == State::Reachable)
            EXPECT_EQ(check.detail, test.detail);
        else
            EXPECT_NE(check.detail.find(test.detail), std::string::npos) << check.detail;
    }
}

TEST(DisplayServer, NamesThatNameNoServerAreUnreachable) {
    expectChecks({
        {"", State::Unreachable, "no display named"},
        {"nonsense", State::Unreachable, "not a display name"},
        {":", State::Unreachable, "not a display name"},
        {":x", State::Unreachable, "not a display name"},
        {":0.y", State::Unreachable, "not a display name"},
        {"host:1x", State::Unreachable, "not a display name"},
        {"decnet/:0", State::Unreachable, "unknown protocol \"decnet\""},
    });
}

TEST(DisplayServer, AServerOnAnotherHostIsReachedOverTcpUntilItCloses) {
    Listener server;
    int number = kFirstNumber;
    while (number <= kLastNumber && !listenOnLoopback(server, kTcpPortBase + number))
        ++number;
    ASSERT_LE(number, kLastNumber) << "no port free";
    const std::string n = std::to_string(number);
    const std::string where = "127.0.0.1:" + std::to_string(kTcpPortBase + number);
    expectChecks({
        {"127.0.0.1:" + n, State::Reachable, where},
        {"127.0.0.1:" + n + ".0", State::Reachable, where},
        {"tcp/127.0.0.1:" + n, State::Reachable, where},
        {"inet/127.0.0.1:" + n, State::Reachable, where},
    });
    server.close();
    expectChecks({{"127.0.0.1:" + n, State::Unreachable, "nothing takes connections at " + where}});
}

TEST(DisplayServer, ASocketPathIsReachedWithOrWithoutAScreenNumber) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string path = folder.filePath(QStringLiteral("X")).toStdString();
    Listener server;
    ASSERT_TRUE(listenLocally(server, path, false));
    expectChecks({
        {path, State::Reachable, path},
        {path + ".0", State::Reachable, path},
        {"unix:" + path, State::Reachable, path},
        {path + "missing", State::Unreachable, path + "missing"},
    });
    server.close();
    expectChecks({{path, State::Unreachable, "nothing takes connections at " + path}});
}

// A local display is found by its number; its socket in the abstract namespace is tried first.
TEST(DisplayServer, ALocalDisplayIsReachedThroughTheSocketOfItsNumber) {
    Listener server;
    int number = kFirstNumber;
    while (number <= kLastNumber &&
           !listenLocally(server, "/tmp/.X11-unix/X" + std::to_string(number), true))
        ++number;
    ASSERT_LE(number, kLastNumber) << "no display number free";
    const std::string n = std::to_string(number);
    const std::string where = "@/tmp/.X11-unix/X" + n;
    expectChecks({
        {":" + n, State::Reachable, where},
        {":" + n + ".1", State::Reachable, where},
        {"unix:" + n, State::Reachable, where},
        {"unix/:" + n, State::Reachable, where},
    });
    server.close();
    // Then the file, and, named without host and protocol, TCP on this machine.
    expectChecks({
        {":" + n, State::Unreachable, where + " ("},
        {":" + n, State::Unreachable, "/tmp/.X11-unix/X" + n + " ("},
        {":" + n, State::Unreachable, "localhost:" + std::to_string(kTcpPortBase + number)},
    });
}

}  // namespace
