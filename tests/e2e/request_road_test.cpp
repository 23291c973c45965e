// The road of a request from the render window to the host, with two real processes: the plug-in
// loaded by path into this process, which plays the host, and the real render-window program,
// told by ORVANTA_RENDER_REQUESTS to ask for content enumerations once the plug-in is ready. The
// requests must reach the host's callback only inside the host's obrCheckMessages, on the host's
// thread, in the order the render window sent them.
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "OrvantaForSketchup.h"
#include "platform/process.h"
#include "platform/process_watch.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/plugin_session.h"
#include "tests/plugin/lifecycle/test_environment.h"
#include "tests/support/channel_test_support.h"

namespace {

using namespace orvanta::e2e;

// The host's polling rhythm while it waits for the render window.
constexpr int kPollIntervalMs = 10;

struct Enumeration {
    std::string entityId;
    Qt::HANDLE thread;
    bool insidePoll;
};

// Set by the host thread around each obrCheckMessages; read by the callback on whatever thread
// calls it.
std::atomic<bool> g_insidePoll{false};
std::mutex g_mutex;
std::vector<Enumeration> g_enumerations;  // under g_mutex

void hostEnumEntityContent(const char* entityId) {
    std::lock_guard<std::mutex> guard(g_mutex);
    g_enumerations.push_back(
        {entityId ? entityId : "(null)", QThread::currentThreadId(), g_insidePoll.load()});
}

std::size_t enumerationCount() {
    std::lock_guard<std::mutex> guard(g_mutex);
    return g_enumerations.size();
}

template <typename Function>
Function resolve(QLibrary& library, const char* name) {
    return reinterpret_cast<Function>(library.resolve(name));
}

TEST(RequestRoad, RenderWindowRequestsReachTheHostOnlyInsideItsPollOnItsThreadInOrder) {
    ensureApplication();
    PluginSession session;
    ASSERT_TRUE(session.isValid());
    const QString& logPath = session.logPath;
    const std::vector<std::string> sent = {"11", "22", "Model", "33"};
    ScopedVariable requestsVariable("ORVANTA_RENDER_REQUESTS", "11,22,Model,33");

    QLibrary library(QStringLiteral(ORVANTA_PLUGIN_LIBRARY));
    ASSERT_TRUE(library.load()) << library.errorString().toStdString();
    const auto initialize = resolve<decltype(&obrInitialize)>(library, "obrInitialize");
    const auto uninitialize = resolve<decltype(&obrUninitialize)>(library, "obrUninitialize");
    const auto checkMessages = resolve<decltype(&obrCheckMessages)>(library, "obrCheckMessages");
    const auto pendingCount =
        resolve<decltype(&obrPendingMessagesCount)>(library, "obrPendingMessagesCount");
    ASSERT_TRUE(initialize && uninitialize && checkMessages && pendingCount);

    const Qt::HANDLE hostThread = QThread::currentThreadId();
    const QByteArray pluginFolder = QFileInfo(library.fileName()).absolutePath().toUtf8();
    initialize(pluginFolder.constData(), 0, 0, nullptr, &hostEnumEntityContent, nullptr, nullptr,
               nullptr);

    const LogFollower log(logPath);
    const QString lastSent = QStringLiteral("sent enumEnt ") + QString::fromStdString(sent.back());
    if (!log.waitForLine(lastSent, kStepDeadlineMs)) {
        printLog(log);
        FAIL() << "the render window did not send its requests";
    }
    const std::int64_t renderPid = renderWindowPid(log);
    ASSERT_GT(renderPid, 0);
    xel::platform::ProcessWatch renderWindow(renderPid);
    // Sent, and possibly already queued by the plug-in's reader thread, but not yet polled for.
    EXPECT_EQ(enumerationCount(), 0u);

    // The host's poll loop, bounded by the step deadline.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        g_insidePoll.store(true);
        checkMessages();
        g_insidePoll.store(false);
        if (enumerationCount() >= sent.size())
            loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(kPollIntervalMs);
    deadline.start(kStepDeadlineMs);
    loop.exec();
    poll.stop();
    EXPECT_EQ(pendingCount(), 0);

    {
        std::lock_guard<std::mutex> guard(g_mutex);
        std::vector<std::string> received;
        for (const Enumeration& enumeration : g_enumerations) {
            received.push_back(enumeration.entityId);
            EXPECT_EQ(enumeration.thread, hostThread) << enumeration.entityId;
            EXPECT_TRUE(enumeration.insidePoll) << enumeration.entityId;
        }
        EXPECT_EQ(received, sent);
    }

    uninitialize();
    ASSERT_TRUE(log.waitForLine(QLatin1String(kSentExitLine), kStepDeadlineMs))
        << "the render window did not answer EXIT";
    EXPECT_TRUE(renderWindow.waitForEnd());
    // The library stays loaded: its threads and state live until the process ends.
}

}  // namespace
