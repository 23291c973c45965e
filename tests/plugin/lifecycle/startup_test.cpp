#include <QtGlobal>
#ifndef Q_OS_WIN
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QThread>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "OrvantaForSketchup.h"
#include "XelRemoteRenderSender.h"
#include "platform/known_folders.h"
#include "plugin/lifecycle/app_settings.h"
#include "plugin/lifecycle/plugin_state.h"
#include "tests/plugin/lifecycle/test_environment.h"
#include "tests/support/system.h"

namespace {

void hostSetEntityAttribute(const char*, const char*, const char*, const char*) {}
void hostEnumEntityContent(const char*) {}
void hostEnumEntityAttributes(const char*, const char*) {}
void hostExportTexture(const char*, const char*) {}
void hostDestroyPointer(int64_t) {}

const QString kLibrarySuffix = QStringLiteral("/Zelquin Render 4 Library/content_library");

// The render link's threads may write messages too.
std::mutex g_debugMutex;
std::vector<std::string> g_debugLines;

void captureMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    std::lock_guard<std::mutex> guard(g_debugMutex);
    if (type == QtDebugMsg)
        g_debugLines.push_back(text.toStdString());
}

// Every test needs its own process: the plug-in state is process-global. The plug-in folder is
// an empty temporary folder, so no render window starts.
class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_folders.isValid());
        ASSERT_FALSE(obrInitialized()) << "run each test in its own process";
        m_pluginFolder = m_folders.makeFolder(QStringLiteral("plugin"));
    }

    // The plug-in never takes its channel down; once the test is done with it, a helper removes
    // its objects from the system (the process's own mappings stay valid until it ends).
    void TearDown() override {
        if (!orvanta::renderSender())
            return;
        EXPECT_EQ(QProcess::execute(QStringLiteral(PLUGIN_CHANNEL_CLEANUP),
                                    {QString::number(QCoreApplication::applicationPid())}),
                  0);
    }

    void initialize() {
        const QByteArray folder = m_pluginFolder.toUtf8();
        obrInitialize(folder.constData(), 0x1234, 0x5678, &hostSetEntityAttribute,
                      &hostEnumEntityContent, &hostEnumEntityAttributes, &hostExportTexture,
                      &hostDestroyPointer);
    }

    // Leaves the setting as an earlier session would have, before the plug-in opens its store.
    void storeContentsPath(const QString& path) {
        QSettings settings(QStringLiteral("Plimsor"), QStringLiteral("Orvanta Render"));
        settings.setValue(QStringLiteral("RenderContentsPath"), path);
        settings.sync();
        ASSERT_EQ(settings.status(), QSettings::NoError);
    }

    orvanta::test::IsolatedUserFolders m_folders;
    QString m_pluginFolder;
};

TEST_F(Startup, InitializedBeforeAfterAndAfterUninitialize) {
    EXPECT_FALSE(obrInitialized());
    initialize();
    EXPECT_TRUE(obrInitialized());
    obrUninitialize();
    EXPECT_TRUE(obrInitialized());
    EXPECT_NE(orvanta::renderSender(), nullptr);
}

TEST_F(Startup, RestartAndUninitializeBeforeInitializeDoNothing) {
    obrRestartRender();
    obrUninitialize();
    EXPECT_FALSE(obrInitialized());
    EXPECT_EQ(orvanta::pluginState().appSettings, nullptr);
    EXPECT_TRUE(orvanta::pluginState().sessionFolder.isEmpty());
    initialize();
    EXPECT_TRUE(obrInitialized());
}

TEST_F(Startup, RestartRenderAfterInitializeKeepsTheSender) {
    initialize();
    XelRemoteRenderSender* sender = orvanta::renderSender();
    obrRestartRender();
    EXPECT_EQ(orvanta::renderSender(), sender);
}

TEST_F(Startup, ArgumentsAndHostThreadAreRecorded) {
    initialize();
    const orvanta::PluginState& state = orvanta::pluginState();
    EXPECT_EQ(state.pluginFolder, m_pluginFolder);
    EXPECT_EQ(state.mainWindowHandle, 0x1234);
    EXPECT_EQ(state.parentWindowHandle, 0x5678);
    EXPECT_EQ(state.host.setEntityAttribute, &hostSetEntityAttribute);
    EXPECT_EQ(state.host.enumEntityContent, &hostEnumEntityContent);
    EXPECT_EQ(state.host.enumEntityAttributes, &hostEnumEntityAttributes);
    EXPECT_EQ(state.host.exportTexture, &hostExportTexture);
    EXPECT_EQ(state.host.destroyPointer, &hostDestroyPointer);
    EXPECT_EQ(state.hostThreadId, QThread::currentThreadId());
    EXPECT_FALSE(state.applicationPaused);
}

TEST_F(Startup, NullPluginFolderAndCallbacksAreAccepted) {
    obrInitialize(nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(obrInitialized());
    const orvanta::PluginState& state = orvanta::pluginState();
    EXPECT_TRUE(state.pluginFolder.isEmpty());
    EXPECT_EQ(state.host.enumEntityContent, nullptr);
}

TEST_F(Startup, SessionFolderIsMadeInTheTemporaryLocation) {
    initialize();
    const QStringList temporary = QStandardPaths::standardLocations(QStandardPaths::TempLocation);
    ASSERT_FALSE(temporary.isEmpty());
    ASSERT_EQ(temporary.last(), m_folders.temporary());
    const QString expected =
        temporary.last() + QLatin1Char('/') + QString::number(QCoreApplication::applicationPid());
    EXPECT_EQ(orvanta::pluginState().sessionFolder, expected.toUtf8());
    EXPECT_TRUE(QDir(expected).exists());
}

TEST_F(Startup, SenderGetsTheSessionFolderAndThisProcessAsQueue) {
    initialize();
    XelRemoteRenderSender* sender = orvanta::renderSender();
    ASSERT_NE(sender, nullptr);
    EXPECT_EQ(QString::fromWCharArray(sender->sessionPath()),
              QString::fromUtf8(orvanta::pluginState().sessionFolder));
    EXPECT_EQ(sender->queueId(), static_cast<long>(QCoreApplication::applicationPid()));
    EXPECT_FALSE(sender->isRenderRunning());  // no program in the plug-in folder
}

TEST_F(Startup, SecondInitializeKeepsTheFirstSenderAndChangesNothing) {
    initialize();
    XelRemoteRenderSender* first = orvanta::renderSender();
    obrInitialize("/elsewhere", 1, 2, nullptr, nullptr, nullptr, nullptr, nullptr);
    const orvanta::PluginState& state = orvanta::pluginState();
    EXPECT_EQ(orvanta::renderSender(), first);
    EXPECT_EQ(state.pluginFolder, m_pluginFolder);
    EXPECT_EQ(state.mainWindowHandle, 0x1234);
    EXPECT_EQ(state.parentWindowHandle, 0x5678);
    EXPECT_EQ(state.host.enumEntityContent, &hostEnumEntityContent);
}

TEST_F(Startup, SettingsStoreOpensWithInitialize) {
    obrSetAppSetting("A", 5);
    initialize();
    EXPECT_FALSE(obrExistsAppSetting("A"));
    obrSetAppSetting("A", 5);
    EXPECT_EQ(obrGetAppSetting("A"), 5);
    const QSettings* settings = orvanta::pluginState().appSettings;
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->organizationName(), QStringLiteral("Plimsor"));
    EXPECT_EQ(settings->applicationName(), QStringLiteral("Orvanta Render"));
}

TEST_F(Startup, ExistingStoredContentLibraryIsUsedAsItIs) {
    const QString folder =
        m_folders.makeFolder(QStringLiteral("Bibliothèque")) + QStringLiteral("/");
    storeContentsPath(folder);
    initialize();
    const orvanta::PluginState& state = orvanta::pluginState();
    EXPECT_EQ(state.contentLibraryFolder, folder);
    EXPECT_EQ(state.contentLibraryFolderUtf8, folder.toUtf8());
}

TEST_F(Startup, DeletedStoredContentLibraryFallsBackToThePublicFolder) {
    const QString folder = m_folders.makeFolder(QStringLiteral("gone"));
    storeContentsPath(folder);
    ASSERT_TRUE(QDir(folder).removeRecursively());
    // The public folder: on Linux the XDG one, set here; on Windows the system's.
    QString shared = QString::fromStdString(xel::platform::publicDocumentsFolder());
    if (!xel::test::kWindows) {
        shared = m_folders.makeFolder(QStringLiteral("shared"));
        qputenv("XDG_PUBLICSHARE_DIR", QFile::encodeName(shared));
    }
    initialize();
    const orvanta::PluginState& state = orvanta::pluginState();
    EXPECT_EQ(state.contentLibraryFolder, shared + kLibrarySuffix);
    EXPECT_EQ(state.contentLibraryFolderUtf8, (shared + kLibrarySuffix).toUtf8());
    // Only the gallery writes the setting.
    EXPECT_EQ(state.appSettings->value(QStringLiteral("RenderContentsPath")).toString(), folder);
}

TEST_F(Startup, StartIsLoggedOnTheHostThread) {
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    initialize();
    qInstallMessageHandler(previous);
    const auto id = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(QThread::currentThreadId())));
    const std::string suffix = " - ThreadId: " + std::to_string(id) + "\"";
    const std::vector<std::string> expected = {
        "\"Render Start Requested..." + suffix,
        "\"createApplication STEP FINAL g_application->exec" + suffix};
    // The render link may write lines of its own in between.
    std::vector<std::string> ours;
    std::lock_guard<std::mutex> guard(g_debugMutex);
    for (const std::string& line : g_debugLines) {
        if (line == expected[0] || line == expected[1])
            ours.push_back(line);
    }
    EXPECT_EQ(ours, expected);
}

#ifndef Q_OS_WIN  // a shell script stands in for the program
// A stand-in render-window program reports its arguments and working directory through a FIFO,
// which the test holds open for reading and writing so that it waits for data, not for a writer.
TEST_F(Startup, RenderWindowProgramStartsFromThePluginFolderInTheSessionFolder) {
    const QString fifo = m_folders.temporary() + QStringLiteral("/report");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int report = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(report, 0);
    QFile program(m_pluginFolder + QStringLiteral("/OrvantaRenderWindow"));
    ASSERT_TRUE(program.open(QIODevice::WriteOnly));
    program.write("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" \"$2\" \"$3\" \"$4\" \"$(pwd -P)\" > '" +
                  QFile::encodeName(fifo) + "'\n");
    program.close();
    ASSERT_TRUE(program.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ExeOwner));

    initialize();

    std::string received;
    while (std::count(received.begin(), received.end(), '\n') < 6) {
        pollfd wait{report, POLLIN, 0};
        ASSERT_EQ(::poll(&wait, 1, 60000), 1) << "no report from the program; so far: " << received;
        char buffer[512];
        const ssize_t count = ::read(report, buffer, sizeof buffer);
        ASSERT_GT(count, 0);
        received.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(report);
    const std::string session = orvanta::pluginState().sessionFolder.toStdString();
    const std::string canonicalSession =
        QFileInfo(QString::fromUtf8(orvanta::pluginState().sessionFolder))
            .canonicalFilePath()
            .toStdString();
    EXPECT_EQ(received, "4\n" + std::to_string(::getpid()) + "\n4660\n22136\n" + session + "\n" +
                            canonicalSession + "\n");
}
#endif

TEST_F(Startup, ApplicationPausedIsRecorded) {
    obrSetApplicationPaused(true);
    EXPECT_TRUE(orvanta::pluginState().applicationPaused);
    obrSetApplicationPaused(false);
    EXPECT_FALSE(orvanta::pluginState().applicationPaused);
}

}  // namespace
