#include "tests/support/peer_process.h"

#include <QDeadlineTimer>

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>

namespace xel::test {

PeerProcess::PeerProcess(const QStringList& arguments) : m_process(std::make_unique<QProcess>()) {
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(qEnvironmentVariable("XEL_TEST_PEER"), arguments);
    m_started = m_process->waitForStarted(60000);
}

PeerProcess::~PeerProcess() {
    if (m_process->state() != QProcess::NotRunning)
        kill();
}

std::string PeerProcess::readLine(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!m_process->canReadLine()) {
        if (m_process->state() == QProcess::NotRunning || deadline.hasExpired())
            break;
        m_process->waitForReadyRead(
            static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
    if (!m_process->canReadLine())
        return {};
    return m_process->readLine().trimmed().toStdString();
}

void PeerProcess::writeLine(const std::string& line) {
    m_process->write(QByteArray::fromStdString(line + "\n"));
    m_process->waitForBytesWritten(60000);
}

std::string PeerProcess::ask(const std::string& command, int timeoutMs) {
    writeLine(command);
    return readLine(timeoutMs);
}

void PeerProcess::kill() {
    m_process->kill();
    m_process->waitForFinished(60000);
}

void PeerProcess::stop() {
    const auto pid = static_cast<pid_t>(m_process->processId());
    ::kill(pid, SIGSTOP);
    // The signal takes effect asynchronously: wait until the process has stopped, leaving its
    // state to be waited for by its owner.
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(pid), &info, WSTOPPED | WNOWAIT);
}

void PeerProcess::resume() {
    ::kill(static_cast<pid_t>(m_process->processId()), SIGCONT);
}

int PeerProcess::waitForExit(int timeoutMs) {
    if (!m_process->waitForFinished(timeoutMs) || m_process->exitStatus() != QProcess::NormalExit)
        return -1;
    return m_process->exitCode();
}

qint64 PeerProcess::pid() const {
    return m_process->processId();
}

}  // namespace xel::test
