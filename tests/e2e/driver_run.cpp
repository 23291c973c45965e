#include "tests/e2e/driver_run.h"

#include <QFile>

#include <gtest/gtest.h>

#include "platform/posix_shm_name.h"
#include "render_link/channel/message_channel.h"

namespace orvanta::e2e {

DriverRun::~DriverRun() {
    if (m_driver.state() != QProcess::NotRunning) {
        m_driver.kill();
        m_driver.waitForFinished(kStepDeadlineMs);
    }
    if (m_renderWindow && !m_renderWindow->hasEnded()) {
        m_renderWindow->terminate();
        m_renderWindow->waitForEnd();
    }
    if (m_driverPid > 0)
        xel::MessageChannel::removeLeftovers(static_cast<qint32>(m_driverPid));
}

bool DriverRun::start(const QStringList& options) {
    m_driver.setProcessChannelMode(QProcess::SeparateChannels);
    m_driver.setReadChannel(QProcess::StandardOutput);
    m_driver.start(QStringLiteral(ORVANTA_HOST_DRIVER),
                   options + QStringList{QStringLiteral("--work-dir"), m_workFolder,
                                         QStringLiteral(ORVANTA_PLUGIN_LIBRARY)});
    if (!m_driver.waitForStarted(kStepDeadlineMs))
        return false;
    m_driverPid = m_driver.processId();
    return true;
}

QStringList DriverRun::output() {
    return QString::fromUtf8(m_driver.readAllStandardOutput()).split(QLatin1Char('\n'));
}

QStringList DriverRun::errors() {
    return QString::fromUtf8(m_driver.readAllStandardError())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

std::string DriverRun::transcript(const QStringList& output) {
    QStringList all = output;
    const QStringList written = errors();
    if (!written.isEmpty())
        all << QStringLiteral("--- the driver's standard error ---") << written;
    return all.join(QLatin1Char('\n')).toStdString();
}

int DriverRun::exitCode() const {
    return m_driver.exitStatus() == QProcess::NormalExit ? m_driver.exitCode() : -1;
}

void DriverRun::watchRenderWindow(std::int64_t pid) {
    m_renderWindow = std::make_unique<xel::platform::ProcessWatch>(pid);
}

LogOnFailure::~LogOnFailure() {
    if (::testing::Test::HasFailure())
        printLog(log);
}

std::set<std::string> channelLeftovers(std::int64_t driverPid, std::int64_t windowPid) {
    std::set<std::string> found;
    QFile table(QStringLiteral("/proc/sysvipc/shm"));
    if (!table.open(QIODevice::ReadOnly | QIODevice::Text))
        return {"(no /proc/sysvipc/shm)"};
    table.readLine();  // the column titles
    while (!table.atEnd()) {
        const QStringList columns =
            QString::fromLatin1(table.readLine()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        // key shmid perms size cpid lpid nattch ...
        if (columns.size() > 4 && (columns[4].toLongLong() == driverPid ||
                                   (windowPid && columns[4].toLongLong() == windowPid)))
            found.insert("segment " + columns[1].toStdString() + " by " + columns[4].toStdString());
    }
    const std::string queuePrefix = std::to_string(driverPid) + "_";
    for (const char* kind : {"event", "mutex"}) {
        for (const std::string& name : xel::platform::listPosixShmNames(kind))
            if (name.rfind(queuePrefix, 0) == 0)
                found.insert(std::string(kind) + " " + name);
    }
    return found;
}

QString printedDigest(const QStringList& output, const char* step, const char* side) {
    const QString prefix =
        QStringLiteral("digest %1 %2: ").arg(QLatin1String(step), QLatin1String(side));
    for (const QString& line : output)
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    return QString();
}

}  // namespace orvanta::e2e
