// The host driver run as the host process by an end-to-end test, with the render window it
// starts, and what such a run may leave behind.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "platform/process_watch.h"
#include "tests/e2e/e2e_support.h"

namespace orvanta::e2e {

// The driver's whole run: every step has kStepDeadlineMs, and the run must end before ctest's
// limit so that the clean-up still runs.
constexpr int kRunDeadlineMs = 240000;

// Whatever is still running when the object goes is killed, and the channel objects of the
// driver's queue id are removed, also after a failure.
class DriverRun {
public:
    // The driver keeps the session's files in `workFolder`.
    explicit DriverRun(const QString& workFolder) : m_workFolder(workFolder) {}
    ~DriverRun();
    DriverRun(const DriverRun&) = delete;
    DriverRun& operator=(const DriverRun&) = delete;

    // Starts the driver with `options`, the work folder and the plug-in built with the tests.
    bool start(const QStringList& options);
    // Waits for the driver's end; false when it did not end in time.
    bool finish() { return m_driver.waitForFinished(kRunDeadlineMs); }
    // What the driver wrote to its standard output, resp. its standard error, by lines.
    QStringList output();
    QStringList errors();
    // For a failure's message: `output` (taken from output()), then what the driver wrote to its
    // standard error, where a sanitizer's report goes.
    std::string transcript(const QStringList& output);
    // The exit code, -1 after a crash.
    int exitCode() const;
    std::int64_t driverPid() const { return m_driverPid; }
    // Watches the render window from its start, so that its end is never taken for another
    // process's.
    void watchRenderWindow(std::int64_t pid);
    xel::platform::ProcessWatch* renderWindow() { return m_renderWindow.get(); }

private:
    QString m_workFolder;
    QProcess m_driver;
    std::int64_t m_driverPid = 0;
    std::unique_ptr<xel::platform::ProcessWatch> m_renderWindow;
};

// The scene digest the driver printed after `step` (as "export") for `side` ("host" or "window"),
// from its output; a null string when there is none.
QString printedDigest(const QStringList& output, const char* step, const char* side);

// Prints the render window's log when the test has failed by the time it goes.
struct LogOnFailure {
    const LogFollower& log;
    ~LogOnFailure();
};

// What is left of a session whose plug-in ran in process `driverPid` and whose render window ran
// in `windowPid` (0 for none): System V segments either made, and named events and locks of the
// driver's queue id. Empty when nothing is left.
std::set<std::string> channelLeftovers(std::int64_t driverPid, std::int64_t windowPid);

}  // namespace orvanta::e2e
