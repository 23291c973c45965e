#include "tools/host_driver/log_follower.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include "platform/process_watch.h"

namespace orvanta::tools {
namespace {

bool hasLineStartingWith(const QStringList& lines, const QString& prefix) {
    for (const QString& line : lines) {
        if (line.startsWith(prefix))
            return true;
    }
    return false;
}

}  // namespace

LogFollower::LogFollower(const QString& path) : m_path(QFileInfo(path).absoluteFilePath()) {}

QStringList LogFollower::lines() const {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_lines.clear();
        m_consumed = 0;
        return {};
    }
    if (file.size() < m_consumed) {
        m_lines.clear();
        m_consumed = 0;
    }
    if (file.size() > m_consumed && file.seek(m_consumed)) {
        const QByteArray added = file.readAll();
        // Up to the last line end: a line still being written is read next time, whole.
        const int end = added.lastIndexOf('\n');
        if (end >= 0) {
            m_lines += QString::fromUtf8(added.constData(), end).split(QLatin1Char('\n'));
            m_consumed += end + 1;
        }
    }
    return m_lines;
}

QString LogFollower::findLine(const QString& prefix) const {
    for (const QString& line : lines()) {
        if (line.startsWith(prefix))
            return line;
    }
    return QString();
}

bool LogFollower::waitUntil(const std::function<bool(const QStringList&)>& done,
                            int timeoutMs) const {
    QEventLoop loop;
    QFileSystemWatcher watcher;
    // The folder tells when the file appears; the file, when it grows.
    watcher.addPath(QFileInfo(m_path).absolutePath());
    bool met = false;
    const auto check = [&] {
        if (!watcher.files().contains(m_path) && QFile::exists(m_path))
            watcher.addPath(m_path);
        if (done(lines())) {
            met = true;
            loop.quit();
        }
    };
    // Watching starts before the first look, so no change between the two goes unnoticed.
    check();
    if (met)
        return true;
    QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &loop, check);
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, check);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    // The writer's end is looked for a few times a second: what it wrote last is read once more.
    QTimer writerCheck;
    constexpr int kWriterCheckMs = 100;
    QObject::connect(&writerCheck, &QTimer::timeout, &loop, [&] {
        if (!writerEnded())
            return;
        check();
        loop.quit();
    });
    if (m_writer)
        writerCheck.start(kWriterCheckMs);
    loop.exec();
    return met;
}

void LogFollower::endWaitsWith(std::shared_ptr<const xel::platform::ProcessWatch> writer) const {
    m_writer = std::move(writer);
}

bool LogFollower::writerEnded() const {
    return m_writer && m_writer->hasEnded();
}

bool LogFollower::waitForLine(const QString& prefix, int timeoutMs) const {
    return waitUntil([&](const QStringList& lines) { return hasLineStartingWith(lines, prefix); },
                     timeoutMs);
}

}  // namespace orvanta::tools
