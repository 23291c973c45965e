// The render window in trouble in the middle of an export, with the host driver as the host
// process, the plug-in it loads and the real render window: killed at half of the walk (the host
// has the plug-in start a new one), or stopped there (and running again after the export). Either
// way the host's export returns, the view gets the whole scene again with digests equal, and the
// session leaves no process and no shared memory behind.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLibrary>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstdint>
#include <optional>
#include <ostream>
#include <set>
#include <string>

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "OrvantaForSketchup.h"
#include "platform/process.h"
#include "render_link/channel/message_channel.h"
#include "render_link/launch_environment.h"
#include "tests/e2e/driver_run.h"
#include "tests/e2e/plugin_session.h"

namespace {

using namespace orvanta::e2e;

struct Trouble {
    const char* interrupt;  // the driver's --interrupt
    // A segment small enough for the export to fill it, so that a stopped render window makes
    // the host's send wait until the stall limit (shortened) ends the wait.
    bool smallSegments;
};

constexpr int kShortStallLimitMs = 3000;

void PrintTo(const Trouble& trouble, std::ostream* out) {
    *out << trouble.interrupt;
}

// The ids of the render windows the log says were started.
std::vector<std::int64_t> startedPids(const QStringList& lines) {
    static const QRegularExpression startLine(QStringLiteral("^started .* pid=(\\d+)$"));
    std::vector<std::int64_t> pids;
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = startLine.match(line);
        if (match.hasMatch())
            pids.push_back(match.captured(1).toLongLong());
    }
    return pids;
}

// Seconds from "host: the export returned after <s> s"; nothing when missing.
std::optional<double> exportSeconds(const QStringList& output) {
    static const QRegularExpression line(
        QStringLiteral("^host: the export returned after ([0-9.]+) s$"));
    for (const QString& text : output) {
        const QRegularExpressionMatch match = line.match(text);
        if (match.hasMatch())
            return match.captured(1).toDouble();
    }
    return std::nullopt;
}

class RenderWindowTrouble : public ::testing::TestWithParam<Trouble> {};

// Allocations of the calling thread while it lives are not reported as leaks.
struct LeakCheckPaused {
#if defined(__SANITIZE_ADDRESS__)
    LeakCheckPaused() {
        __lsan_disable();
    }
    ~LeakCheckPaused() {
        __lsan_enable();
    }
#else
    LeakCheckPaused() {}
    ~LeakCheckPaused() {}
#endif
};

TEST_P(RenderWindowTrouble, TheViewGetsTheWholeSceneAgainAndNothingIsLeftBehind) {
    const Trouble trouble = GetParam();
    ensureApplication();
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    ScopedVariable temporary("TMPDIR", QFile::encodeName(work.path() + QStringLiteral("/tmp")));
    ScopedVariable segments(xel::kSegmentBytesVariable,
                            trouble.smallSegments ? QByteArray::number(256 << 10) : QByteArray());
    ScopedVariable stallLimit(xel::kStallLimitVariable, trouble.smallSegments
                                                            ? QByteArray::number(kShortStallLimitMs)
                                                            : QByteArray());
    DriverRun run(work.path());
    const LogFollower log(work.path() + QStringLiteral("/render_window.log"));
    const LogOnFailure printer{log};

    ASSERT_TRUE(run.start({QStringLiteral("--generate"), QStringLiteral("200000"),
                           QStringLiteral("--no-png"), QStringLiteral("--interrupt"),
                           QString::fromLatin1(trouble.interrupt)}));
    if (log.waitForLine(QLatin1String(kStartedLinePrefix), kStepDeadlineMs) &&
        renderWindowPid(log) > 0)
        run.watchRenderWindow(renderWindowPid(log));
    ASSERT_TRUE(run.finish()) << "the driver did not end; it said:\n"
                              << run.output().join(QLatin1Char('\n')).toStdString();
    const QStringList output = run.output();
    EXPECT_EQ(run.exitCode(), 0) << run.transcript(output);
    EXPECT_TRUE(output.contains(QStringLiteral("host: the scene digests after the resync agree")));

    // The host's export returned: at once past a dead render window, within the stall limit (and
    // some slack for a loaded machine) past a stopped one.
    const std::optional<double> seconds = exportSeconds(output);
    ASSERT_TRUE(seconds.has_value());
    EXPECT_LT(*seconds,
              (trouble.smallSegments ? kShortStallLimitMs : xel::kStallLimitMs) / 1000.0 + 20);

    const std::vector<std::int64_t> pids = startedPids(log.lines());
    ASSERT_FALSE(pids.empty());
    ASSERT_NE(run.renderWindow(), nullptr);
    EXPECT_TRUE(run.renderWindow()->waitForEnd());
    std::set<std::string> leftovers = channelLeftovers(run.driverPid(), pids.front());
    if (std::string(trouble.interrupt) == "kill") {
        // A new render window, which got the scene and closed at the end of the session.
        ASSERT_EQ(pids.size(), 2u);
        EXPECT_NE(pids[0], pids[1]);
        EXPECT_EQ(log.lines().last(), QLatin1String(kClosedLine));
        xel::platform::ProcessWatch second(pids[1]);
        EXPECT_TRUE(second.waitForEnd());
        const std::set<std::string> more = channelLeftovers(run.driverPid(), pids[1]);
        leftovers.insert(more.begin(), more.end());
    } else {
        EXPECT_EQ(pids.size(), 1u) << "the stopped render window was replaced";
    }
    EXPECT_EQ(leftovers, std::set<std::string>());
}

INSTANTIATE_TEST_SUITE_P(KilledOrStopped, RenderWindowTrouble,
                         ::testing::Values(Trouble{"kill", false}, Trouble{"stop", true}),
                         [](const ::testing::TestParamInfo<Trouble>& info) {
                             return std::string(info.param.interrupt);
                         });

// A render window whose window system is missing ends before it takes the channel: the host notices
// it at once, not after a step's deadline, and nothing of the session is left.
TEST(RenderWindowWithoutItsWindowSystem, TheHostNoticesItsEndAtOnceAndNothingIsLeftBehind) {
    ensureApplication();
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    ScopedVariable temporary("TMPDIR", QFile::encodeName(work.path() + QStringLiteral("/tmp")));
    ScopedVariable platform("QT_QPA_PLATFORM", "xcb");
    ScopedVariable display("DISPLAY", "");
    ScopedVariable wayland("WAYLAND_DISPLAY", "");
    DriverRun run(work.path());
    const LogFollower log(work.path() + QStringLiteral("/render_window.log"));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(run.start({QStringLiteral("--no-png")}));
    if (log.waitForLine(QLatin1String(kStartedLinePrefix), kStepDeadlineMs) &&
        renderWindowPid(log) > 0)
        run.watchRenderWindow(renderWindowPid(log));
    ASSERT_TRUE(run.finish()) << "the driver did not end";
    EXPECT_LT(clock.elapsed(), kStepDeadlineMs / 2) << "the render window's end went unnoticed";
    EXPECT_EQ(run.exitCode(), 1);
    EXPECT_TRUE(run.output().contains(
        QStringLiteral("host: FAILED: the render window ended before \"plug-in ready\"")))
        << run.output().join(QLatin1Char('\n')).toStdString();
    ASSERT_NE(run.renderWindow(), nullptr);
    EXPECT_TRUE(run.renderWindow()->waitForEnd());
    EXPECT_EQ(channelLeftovers(run.driverPid(), run.renderWindow()->pid()),
              std::set<std::string>());
}

// A render-window program that starts and never takes the channel: it writes its process id to
// a file in its working folder (the session folder) and waits.
TEST(SilentRenderWindow, UnloadingThePluginLeavesNothingBehind) {
    ensureApplication();
    PluginSession session;
    ASSERT_TRUE(session.isValid());
    QTemporaryDir pluginFolder;
    ASSERT_TRUE(pluginFolder.isValid());
    QFile program(pluginFolder.filePath(QStringLiteral("OrvantaRenderWindow")));
    ASSERT_TRUE(program.open(QIODevice::WriteOnly));
    program.write(
        "#!/bin/sh\necho $$ > \"$4/silent.pid.tmp\"\n"
        "mv \"$4/silent.pid.tmp\" \"$4/silent.pid\"\nexec sleep 120\n");
    program.close();
    program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QLibrary library(QStringLiteral(ORVANTA_PLUGIN_LIBRARY));
    ASSERT_TRUE(library.load()) << library.errorString().toStdString();
    const auto initialize =
        reinterpret_cast<decltype(&obrInitialize)>(library.resolve("obrInitialize"));
    const auto uninitialize =
        reinterpret_cast<decltype(&obrUninitialize)>(library.resolve("obrUninitialize"));
    ASSERT_TRUE(initialize && uninitialize);
    {
        // What the plug-in keeps until the process ends is out of the leak checker's sight once
        // its library is unloaded: made here, it is not counted as a leak.
        const LeakCheckPaused paused;
        initialize(pluginFolder.path().toUtf8().constData(), 0, 0, nullptr, nullptr, nullptr,
                   nullptr, nullptr);
    }

    const std::int64_t pid = xel::platform::currentProcessId();
    const QString pidFile = QDir::cleanPath(session.folders.temporary()) + QLatin1Char('/') +
                            QString::number(pid) + QStringLiteral("/silent.pid");
    const LogFollower started(pidFile);
    ASSERT_TRUE(started.waitUntil([](const QStringList& lines) { return !lines.isEmpty(); },
                                  kStepDeadlineMs))
        << "the render-window program did not start";
    xel::platform::ProcessWatch silent(started.lines().first().toLongLong());
    EXPECT_NE(channelLeftovers(pid, 0), std::set<std::string>()) << "no channel to leave behind";

    uninitialize();
    EXPECT_TRUE(library.unload()) << library.errorString().toStdString();
    EXPECT_EQ(channelLeftovers(pid, 0), std::set<std::string>());
    silent.terminate();
    EXPECT_TRUE(silent.waitForEnd());
}

}  // namespace
