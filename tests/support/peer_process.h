// The other process of a cross-process test: the xel_test_peer program, driven line by line.
// Every step is a handshake: a command line goes to the peer's standard input and the test waits
// for the peer's answer line.
#pragma once

#include <QProcess>
#include <QStringList>

#include <memory>
#include <string>

#include "platform/process_watch.h"

namespace xel::test {

class PeerProcess {
public:
    // Starts the peer program named by the XEL_TEST_PEER environment variable.
    explicit PeerProcess(const QStringList& arguments);
    // Kills the peer if it still runs.
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool started() const { return m_started; }
    // The next line the peer prints, without its line end; empty on timeout or exit.
    std::string readLine(int timeoutMs = 120000);
    void writeLine(const std::string& line);
    // Writes `command` and returns the peer's answer line.
    std::string ask(const std::string& command, int timeoutMs = 120000);
    // Ends the peer at once, then waits for the process to be gone.
    void kill();
    // Stops every thread of the peer, returning once it has stopped, and lets it go on: a peer that
    // hangs, and one that goes on. Both go through the platform's process watch.
    void stop();
    void resume();
    // Waits for a normal exit; returns the exit code, or -1.
    int waitForExit(int timeoutMs = 60000);
    qint64 pid() const;

private:
    std::unique_ptr<QProcess> m_process;
    // The started peer, addressed as the process itself rather than by its id; null if it did not
    // start.
    std::unique_ptr<platform::ProcessWatch> m_watch;
    bool m_started = false;
};

}  // namespace xel::test
