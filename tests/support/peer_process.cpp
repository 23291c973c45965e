#include "tests/support/peer_process.h"

#include <QDeadlineTimer>

#include "tests/support/peer_stop.h"

namespace xel::test {

PeerProcess::PeerProcess(const QStringList& arguments) : m_process(std::make_unique<QProcess>()) {
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(qEnvironmentVariable("XEL_TEST_PEER"), arguments);
    m_started = m_process->waitForStarted(60000);
    if (m_started)
        m_watch = std::make_unique<platform::ProcessWatch>(m_process->processId());
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
    if (!m_watch)
        return;
    m_watch->suspend();
    waitUntilChildStopped(m_watch->pid());
}

void PeerProcess::resume() {
    if (m_watch)
        m_watch->resume();
}

int PeerProcess::waitForExit(int timeoutMs) {
    if (!m_started)
        return -1;
    // A peer whose end was seen while reading its output has finished already; waiting for it then
    // reports failure.
    if (m_process->state() != QProcess::NotRunning && !m_process->waitForFinished(timeoutMs))
        return -1;
    if (m_process->exitStatus() != QProcess::NormalExit)
        return -1;
    return m_process->exitCode();
}

qint64 PeerProcess::pid() const {
    return m_process->processId();
}

}  // namespace xel::test
