// The plug-in library loaded by path as the host loads it, with the real render-window program:
// the plug-in starts the render window from its own folder in the session folder, and closes it.
// Runs on Windows too.
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QString>
#include <QStringList>

#include <cstdint>

#include <gtest/gtest.h>

#include "OrvantaForSketchup.h"
#include "platform/process.h"
#include "platform/process_watch.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/plugin_session.h"

namespace {

using namespace orvanta::e2e;

TEST(PluginProcess, StartsTheRenderWindowAndClosesItOnUninitialize) {
    ensureApplication();
    PluginSession session;
    ASSERT_TRUE(session.isValid());
    const std::int64_t pid = xel::platform::currentProcessId();
    const QString& logPath = session.logPath;

    QLibrary library(QStringLiteral(ORVANTA_PLUGIN_LIBRARY));
    ASSERT_TRUE(library.load()) << library.errorString().toStdString();
    const auto initialize =
        reinterpret_cast<decltype(&obrInitialize)>(library.resolve("obrInitialize"));
    const auto initialized =
        reinterpret_cast<decltype(&obrInitialized)>(library.resolve("obrInitialized"));
    const auto uninitialize =
        reinterpret_cast<decltype(&obrUninitialize)>(library.resolve("obrUninitialize"));
    ASSERT_TRUE(initialize && initialized && uninitialize);

    const QByteArray pluginFolder = QFileInfo(library.fileName()).absolutePath().toUtf8();
    initialize(pluginFolder.constData(), 2050, 77, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(initialized());

    const LogFollower log(logPath);
    ASSERT_TRUE(log.waitForLine(QLatin1String(kPluginReadyLine), kStepDeadlineMs))
        << "the render window did not come up";
    const QString sessionFolder =
        QDir::cleanPath(session.folders.temporary()) + QLatin1Char('/') + QString::number(pid);
    const QStringList expectedArguments = {QString::number(pid), QStringLiteral("2050"),
                                           QStringLiteral("77"), sessionFolder};
    EXPECT_EQ(renderWindowArguments(log), expectedArguments);
    EXPECT_EQ(log.findLine(QStringLiteral("working folder ")),
              QStringLiteral("working folder ") + sessionFolder);
    const std::int64_t renderPid = renderWindowPid(log);
    ASSERT_GT(renderPid, 0);
    xel::platform::ProcessWatch renderWindow(renderPid);

    uninitialize();
    ASSERT_TRUE(log.waitForLine(QLatin1String(kSentExitLine), kStepDeadlineMs))
        << "the render window did not answer EXIT";
    EXPECT_TRUE(log.lines().contains(QStringLiteral("exit requested")));
    EXPECT_TRUE(renderWindow.waitForEnd());
    EXPECT_TRUE(initialized()) << "the plug-in stays started after obrUninitialize";
    // The library stays loaded: its threads and state live until the process ends.
}

}  // namespace
