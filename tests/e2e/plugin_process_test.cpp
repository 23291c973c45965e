// The host as a process of its own, with the plug-in library and the real render-window program:
// a killed host leaves no render window behind.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdint>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "platform/process_watch.h"
#include "render_link/channel/message_channel.h"
#include "tests/e2e/e2e_support.h"
#include "tests/plugin/lifecycle/test_environment.h"
#include "tests/support/channel_test_support.h"

namespace {

using namespace orvanta::e2e;

TEST(HostProcessKilled, RenderWindowExitsByItself) {
    ensureApplication();
    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    // The driver keeps the session's temporary files in <work>/tmp; the channel clean-up below
    // must look there too.
    ScopedVariable temporary("TMPDIR", QFile::encodeName(work.path() + QStringLiteral("/tmp")));

    QProcess driver;
    driver.setProcessChannelMode(QProcess::ForwardedChannels);
    driver.start(
        QStringLiteral(ORVANTA_HOST_DRIVER),
        {QStringLiteral("--hold"), QStringLiteral("--no-png"), QStringLiteral("--work-dir"),
         work.path(), QStringLiteral(ORVANTA_PLUGIN_LIBRARY)});
    ASSERT_TRUE(driver.waitForStarted(kStepDeadlineMs)) << driver.errorString().toStdString();
    const std::int64_t driverPid = driver.processId();

    const LogFollower log(work.path() + QStringLiteral("/render_window.log"));
    ASSERT_TRUE(log.waitForLine(QLatin1String(kPluginReadyLine), kStepDeadlineMs))
        << "the render window did not come up";
    const std::int64_t renderPid = renderWindowPid(log);
    ASSERT_GT(renderPid, 0);
    xel::platform::ProcessWatch renderWindow(renderPid);

    driver.kill();
    ASSERT_TRUE(driver.waitForFinished(kStepDeadlineMs));
    // The render window's watch of its starter notices within its 5 s period; ctest's timeout
    // bounds the wait.
    EXPECT_TRUE(renderWindow.waitForEnd());
    const QStringList lines = log.lines();
    const int requested = lines.indexOf(QStringLiteral("exit requested"));
    EXPECT_GE(requested, 0);
    EXPECT_GT(lines.indexOf(QLatin1String(kSentExitLine)), requested);
    EXPECT_EQ(lines.last(), QLatin1String(kClosedLine));

    // Both ends of the driver's channel are gone.
    xel::MessageChannel::removeLeftovers(static_cast<qint32>(driverPid));
}

}  // namespace
