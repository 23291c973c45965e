// Following a log file that another process appends whole lines to.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace xel::platform {
class ProcessWatch;
}

namespace orvanta::tools {

class LogFollower {
public:
    // `path` need not exist yet; its folder must.
    explicit LogFollower(const QString& path);

    const QString& path() const { return m_path; }
    // The complete lines written so far (a line still missing its line end is left out); empty
    // while the file does not exist. Reads only what was appended since the last call; a file
    // that became shorter is read again from its start.
    QStringList lines() const;
    // The first line that starts with `prefix`, or a null string.
    QString findLine(const QString& prefix) const;

    // Waits until `done` holds for the lines, or `timeoutMs` has passed; returns whether `done`
    // held. Runs a local event loop on the calling thread, woken by the file system's change
    // notices for the file and its folder: needs a QCoreApplication, and delivers the thread's
    // other events meanwhile.
    bool waitUntil(const std::function<bool(const QStringList&)>& done, int timeoutMs) const;
    // Waits for a line that starts with `prefix`.
    bool waitForLine(const QString& prefix, int timeoutMs) const;

    // The process that writes the log: once it has ended, a wait looks at the lines once more and
    // ends, instead of waiting for lines that will not come. Null: none. Not during a wait.
    void endWaitsWith(std::shared_ptr<const xel::platform::ProcessWatch> writer) const;
    // Whether that process has ended.
    bool writerEnded() const;

private:
    QString m_path;
    // What lines() has read: the complete lines, and the bytes of the file they came from.
    mutable QStringList m_lines;
    mutable qint64 m_consumed = 0;
    mutable std::shared_ptr<const xel::platform::ProcessWatch> m_writer;
};

}  // namespace orvanta::tools
