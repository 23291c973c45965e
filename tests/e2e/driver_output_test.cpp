// What a person sees of the main job: the host driver's default output is short, the steps and a
// closing summary (messages by type, timings beside the raw channel's, both digests, the verdict,
// the log file's path), while the render window's message log goes only to the log file, and to
// the output too with --verbose.
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "tests/e2e/driver_run.h"

namespace {

using namespace orvanta::e2e;

// Far below the whole log of the built-in model (some 150 lines); the summary lists each message
// type on a line of its own.
constexpr int kMostDefaultLines = 60;

struct Finished {
    int exitCode = -1;
    QStringList output;
    QStringList logFile;  // the driver's log file, by lines
    QString logPath;
};

Finished runDriver(const QStringList& options) {
    ensureApplication();
    QTemporaryDir work;
    Finished finished;
    if (!work.isValid())
        return finished;
    ScopedVariable temporary("TMPDIR", QFile::encodeName(work.path() + QStringLiteral("/tmp")));
    DriverRun run(work.path());
    const LogFollower log(work.path() + QStringLiteral("/render_window.log"));
    const LogOnFailure printer{log};
    finished.logPath = work.path() + QStringLiteral("/host_driver.log");
    if (!run.start(options + QStringList{QStringLiteral("--no-png")}))
        return finished;
    if (log.waitForLine(QLatin1String(kStartedLinePrefix), kStepDeadlineMs) &&
        renderWindowPid(log) > 0)
        run.watchRenderWindow(renderWindowPid(log));
    if (!run.finish())
        return finished;
    finished.exitCode = run.exitCode();
    finished.output = run.output();
    while (!finished.output.isEmpty() && finished.output.last().isEmpty())
        finished.output.removeLast();
    QFile file(finished.logPath);
    if (file.open(QIODevice::ReadOnly))
        finished.logFile = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (run.renderWindow())
        run.renderWindow()->waitForEnd();
    EXPECT_EQ(channelLeftovers(run.driverPid(), run.renderWindow() ? run.renderWindow()->pid() : 0),
              std::set<std::string>());
    return finished;
}

bool anyStarts(const QStringList& lines, const char* start) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const QString& line) { return line.startsWith(QLatin1String(start)); });
}

TEST(DriverOutput, ByDefaultShowsTheStepsAndTheSummaryAndKeepsTheMessageLogInTheLogFile) {
    const Finished run = runDriver({});
    const std::string shown = run.output.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(run.exitCode, 0) << shown;
    EXPECT_LT(run.output.size(), kMostDefaultLines) << shown;

    // The log file's path first, the summary last.
    ASSERT_FALSE(run.output.isEmpty());
    EXPECT_TRUE(run.output.first().startsWith(QStringLiteral("log file: ") + run.logPath)) << shown;
    EXPECT_TRUE(run.output.contains(QStringLiteral("== summary =="))) << shown;
    EXPECT_EQ(run.output.last(), QStringLiteral("log          ") + run.logPath);
    EXPECT_TRUE(run.output.contains(
        QStringLiteral("verdict      OK: every step arrived and both sides agree")))
        << shown;
    EXPECT_TRUE(anyStarts(run.output, "messages     received by the render window")) << shown;
    EXPECT_TRUE(anyStarts(run.output, "  addMesh ")) << shown;
    EXPECT_TRUE(anyStarts(run.output, "export       ")) << shown;
    EXPECT_TRUE(anyStarts(run.output, "raw channel  the same ")) << shown;
    EXPECT_TRUE(anyStarts(run.output, "digests      1 of 1 steps agree; the last, after export"))
        << shown;

    // No message log, no details here; all of it in the log file.
    EXPECT_FALSE(anyStarts(run.output, "  onAddMesh ")) << shown;
    EXPECT_FALSE(anyStarts(run.output, "host: waiting")) << shown;
    EXPECT_TRUE(anyStarts(run.logFile, "  onAddMesh "));
    EXPECT_TRUE(anyStarts(run.logFile, "host: waiting"));
    EXPECT_TRUE(anyStarts(run.logFile, "digest export window: "));
    EXPECT_TRUE(run.logFile.contains(QStringLiteral("== summary ==")));
}

TEST(DriverOutput, VerboseAlsoShowsTheRenderWindowsMessageLog) {
    const Finished run = runDriver({QStringLiteral("--verbose")});
    const std::string shown = run.output.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(run.exitCode, 0) << shown;
    EXPECT_TRUE(anyStarts(run.output, "--- what crossed: the render window's log")) << shown;
    EXPECT_TRUE(anyStarts(run.output, "  onAddMesh ")) << shown;
    EXPECT_TRUE(anyStarts(run.output, "digest export host: ")) << shown;
    EXPECT_TRUE(run.output.contains(QStringLiteral("== summary =="))) << shown;
    EXPECT_GT(run.output.size(), kMostDefaultLines);
}

}  // namespace
